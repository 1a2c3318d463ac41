#pragma once

#include "tools/widget_prompter.h"

#include <QDialog>

#include <memory>

class Prompter;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class SettingsStore;
struct SharedOptions;

// The folder a folder dialog starts in for text: the folder part of text, or
// the home folder when that is blank or missing.
QString BrowseStartFolder(const QString& text);

// Asks for a folder starting near startText; the text given in when cancelled.
// The result ends with "/".
QString BrowseFolder(Prompter& prompter, const QString& startText, const QString& prompt);

// The folder a typed text names: trimmed, "~" for the home folder, "//", "."
// and ".." resolved. Empty, with the reason in error, when the text names no
// folder that could be made exactly as typed.
QString TypedFolderPath(const QString& text, QString* error);

// Opens the drop-down part of list wide enough for its longest entry.
void FitDropDownWidth(QComboBox* list);

// "选择下载保存路径": where harvested records are downloaded to, and how files are named.
class fSeleFileSavePath : public QDialog {
    Q_OBJECT

public:
    fSeleFileSavePath(SharedOptions& options, SettingsStore& store, Prompter* prompter,
                      QWidget* parent = nullptr);
    ~fSeleFileSavePath() override;

    QLabel* Label1;
    QComboBox* Combo1;
    QPushButton* Command1; // "..."
    QLabel* Label3;
    QRadioButton* Option1; // "原文件名"
    QRadioButton* Option2; // "文章标题名称"
    QPushButton* Command2; // "确定"
    QPushButton* Command3; // "取消"

    void Browse();
    void Accept();
    void Cancel();

    // Shows the chooser modally; FolderChooserCancelled tells how it ended.
    static void Choose(SharedOptions& options, SettingsStore& store, Prompter* prompter,
                       QWidget* parent);

protected:
    void reject() override;

private:
    SharedOptions& options_;
    SettingsStore& store_;
    WindowPrompter prompter_;
};
