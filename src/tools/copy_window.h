#pragma once

#include "tools/copy_job.h"
#include "tools/widget_prompter.h"

#include <QDialog>

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;

// "复制文件": copies a list of files into one folder under a same-name rule.
class Form_Copy_Move : public QDialog {
    Q_OBJECT

public:
    Form_Copy_Move(SettingsStore& store, Prompter* prompter, QWidget* parent = nullptr);
    ~Form_Copy_Move() override;

    // What the opener hands over: the files and, when not empty, the title.
    void setFiles(const QStringList& files, const QString& title = {});
    // Shows the tool modally for files, titled with their number.
    static void Open(const QStringList& files, SettingsStore& store, Prompter* prompter,
                     QWidget* parent);

    QLabel* Label1; // "目的文件夹："
    QComboBox* Combo1;
    QPushButton* Command1;       // "浏览"
    QGroupBox* Frame1;           // "如果同名文件已经存在"
    QList<QRadioButton*> Option; // the five rules, Option[0] is rule 1
    QLabel* Label2;              // "当前文件："
    QLabel* Label3;              // the file being copied
    QLabel* Label4;              // "进度;"
    QProgressBar* ProgressBar1;
    QPushButton* Command2; // "开始" / "停止"
    QPushButton* Command3; // "关闭"

    // "开始" / "停止"
    void Start();
    // "浏览"
    void Browse();

    CopyJob& job() { return job_; }

protected:
    void reject() override;

private:
    void showHistory();
    void showRunState();

    WindowPrompter prompter_;
    CopyJob job_;
    QButtonGroup* rules_;
};
