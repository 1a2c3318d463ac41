#pragma once

#include <QWidget>

class BrowserView;
class Prompter;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class QWebEngineProfile;
class SiteLogin;
struct LoginSettings;

// The download window's browser pane (PicWebBK): the browser Web1 and the
// controls of the site login. None of its values is stored.
class LoginPane : public QWidget {
    Q_OBJECT

public:
    LoginPane(QWebEngineProfile* profile, Prompter& prompter, QWidget* parent = nullptr);

    QLabel* Label6;        // "网址："
    QLineEdit* Text1;      // login address
    QPushButton* Command2; // "浏览"
    QPushButton* Command3; // "关闭(隐藏)"
    QCheckBox* Check1;     // "自动刷新(每分钟)"
    QCheckBox* Check2;     // "自动登录"
    QLabel* Label11;       // "自动登录条件："
    QComboBox* Combo3;
    QRadioButton* Option4; // "帐号登录："
    QLineEdit* Text2;      // account
    QLabel* Label10;       // "密码："
    QLineEdit* Text3;      // password, hidden as typed
    QRadioButton* Option5; // "IP登录"
    QPushButton* Command5; // "测试登录"
    BrowserView* Web1;
    QTimer* Timer2; // reloads the page every minute while "自动刷新(每分钟)" is checked

    SiteLogin* login() const { return login_; }
    LoginSettings settings() const;
    bool autoLogin() const;

    // The pane comes to the front: unless it refreshes or logs in by itself, it
    // shows what the selected task's address (may be empty) gives.
    void aboutToShow(const QString& selectedTaskUrl);
    // The pane went behind the list: nothing keeps running there unless it
    // refreshes. A running login keeps its page either way.
    void hidden();
    // The window closes: the refresh stops and a running login ends.
    void shutDown();

signals:
    // "关闭(隐藏)"
    void hideRequested();
    // "自动登录" was checked or cleared.
    void autoLoginChanged(bool on);

private:
    void buildControls();
    void autoLoginToggled(bool on);

    SiteLogin* login_;
    Prompter& prompter_;
};
