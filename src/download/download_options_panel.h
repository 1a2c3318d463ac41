#pragma once

#include <QFrame>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;

// The download window's options panel (Picture3): method, threads, same-name
// policy, interval, the automatic options and the run buttons.
class DownloadOptionsPanel : public QFrame {
    Q_OBJECT

public:
    static constexpr int MaxThreads = 6;
    static constexpr int MaxIntervalSeconds = 600;

    explicit DownloadOptionsPanel(QWidget* parent = nullptr);

    QLabel* Label7;         // "下载方式：n"
    QPushButton* Command26; // "切换"
    QComboBox* Combo1;      // threads "1".."6"
    QRadioButton* Option1;  // "跳过"
    QRadioButton* Option2;  // "覆盖"
    QRadioButton* Option3;  // "重命名"
    QComboBox* Combo2;      // interval 0..600 s
    QCheckBox* Check3;      // automatic re-download
    QComboBox* Combo4;      // ... of which rows
    QCheckBox* Check4;      // automatic start
    QCheckBox* Check5;      // stop after five problems
    QCheckBox* Check6;      // sounds
    QPushButton* Command4;  // "开始下载"
    QPushButton* Command31; // "停止下载"
    QPushButton* Command1;  // "网页登录"
    QLabel* RunningIndicator;
    QLabel* Label1; // "n条"

    // The same-name policy as the options show it (trimmed caption).
    QString SelectedPolicy() const;
    // Selects the option whose trimmed caption is policy; "重命名" for anything else.
    void selectPolicy(const QString& policy);
    // "下载方式：n"; the thread list is enabled for method 2 only and shows "1".
    void ShowMethod(int method);
    // "0" to "600", "0" selected.
    void fillIntervals();
};
