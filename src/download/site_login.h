#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <utility>

class BrowserPage;
class PageDocument;
struct PageElement;
class Prompter;

// What the login pane holds; nothing of it is stored.
struct LoginSettings {
    QString address;      // the login page
    QString account;      // for "帐号登录："
    QString password;     // for "帐号登录："
    bool ipLogin = false; // "IP登录": press the page's IP-login button instead
};

// Why these settings cannot sign in (the message for the user), or empty text.
QString LoginSettingsProblem(const LoginSettings& settings);

// What an account login does to a page, worked out on its snapshot. Walking the
// INPUT elements in document order, account fields ("userid", "user", "username",
// "useruid") and password fields ("pass", "password", "passwd"), names in any
// letter case, are filled; the first submit button after two filled fields is
// pressed. A button before them is passed over; fewer than two: no submit.
struct AccountLoginPlan {
    QList<std::pair<int, QString>> fields; // element index, value to set
    int submit = -1;                       // element index of the button, -1: none
};
AccountLoginPlan PlanAccountLogin(const PageDocument& document, const QString& account,
                                  const QString& password);

// Signs in to a site in the login pane's browser: loads the login page, fills
// and submits its form (or presses its IP-login button), then pauses, so the
// site's session cookie is in the browser profile (and so with the downloads)
// before anything else happens. One login at a time; every wait is bounded and
// lets the window run meanwhile.
class SiteLogin : public QObject {
    Q_OBJECT

public:
    SiteLogin(BrowserPage* page, Prompter& prompter, QObject* parent = nullptr);

    LoginSettings settings;

    // A login runs ("测试登录" is disabled meanwhile).
    bool running() const { return running_; }
    // "浏览" waits for its page (the button is disabled meanwhile).
    bool browsing() const { return browsing_ > 0; }
    // Set before a page is asked to load, cleared once the page it led to finished.
    bool pageLoading() const { return pageLoading_; }

    // "浏览": loads the login address and waits until the page is there (bounded).
    QCoro::Task<void> Browse();
    // The login. interactive: run by the user, who is told what is missing; an
    // automatic run says nothing. Missing settings also clear "自动登录".
    QCoro::Task<void> Run(bool interactive);

    // The window closes: every wait ends at once and nothing further is done.
    void shutDown();
    bool isShutDown() const { return closed_; }

signals:
    void runningChanged(bool running);
    void browsingChanged(bool browsing);
    // "自动登录" must be cleared: its settings cannot sign in.
    void autoLoginCleared();
    // Something a wait looks at may have changed.
    void woke();

private:
    // The load or click that follows starts a new page wait.
    void expectPage();
    QCoro::Task<bool> loadAndWait(QString address);
    QCoro::Task<void> clickAndWait(PageElement element);
    QCoro::Task<void> waitForPage();
    QCoro::Task<void> pause(std::chrono::milliseconds length);
    QCoro::Task<void> fillAccountForm(const PageDocument& document, LoginSettings settings);
    void setRunning(bool on);
    void setBrowsing(int delta);

    QPointer<BrowserPage> page_;
    Prompter& prompter_;
    QElapsedTimer pageClock_;
    bool pageLoading_ = false;
    bool navigated_ = false;
    bool running_ = false;
    int browsing_ = 0;
    bool closed_ = false;
};
