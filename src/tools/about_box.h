#pragma once

#include "tools/widget_prompter.h"

#include <QDialog>

#include <memory>

class Prompter;
class QLabel;
class QPushButton;

// The about box: name, version and the system-information button.
class frmAbout : public QDialog {
    Q_OBJECT

public:
    // prompter: where "此时系统信息不可用" goes; the window's own dialogs when null.
    explicit frmAbout(QWidget* parent = nullptr, Prompter* prompter = nullptr);
    ~frmAbout() override;

    QLabel* lsoftname;
    QLabel* lblVersion;
    QPushButton* cmdSysInfo;
    QPushButton* cmdOK;

    // Starts the first system-information program found; false and the message when none.
    bool StartSysInfo();

private:
    WindowPrompter prompter_;
};
