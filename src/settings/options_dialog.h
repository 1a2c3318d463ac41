#pragma once

#include "tools/widget_prompter.h"

#include <QDialog>

#include <memory>

class Prompter;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class SettingsStore;
struct SharedOptions;

// "设置": download method, proxy, folder question, largest file size.
class fOption : public QDialog {
    Q_OBJECT

public:
    fOption(SharedOptions& options, SettingsStore& store, Prompter* prompter,
            QWidget* parent = nullptr);
    ~fOption() override;

    QRadioButton* Option1; // method 1
    QRadioButton* Option2; // method 2
    QCheckBox* Check1;     // proxy
    QLineEdit* Text6;      // proxy address
    QLineEdit* Text8;      // proxy port
    QCheckBox* Check2;     // ask for the download folder when harvesting
    QLineEdit* Text1;      // largest file size, MB
    QPushButton* Command1; // "确定"
    QPushButton* Command2; // "关闭"

    // "确定"; false (dialog stays open) when the size is not a number.
    bool Accept();

signals:
    // "确定" set the download method (1 or 2); an open download window shows it.
    void DownloadMethodChanged(int method);

private:
    SharedOptions& options_;
    SettingsStore& store_;
    WindowPrompter prompter_;
};
