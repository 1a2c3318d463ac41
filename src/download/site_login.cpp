#include "download/site_login.h"

#include "app/browser_page.h"
#include "app/page_document.h"
#include "tools/prompter.h"
#include "tools/text_utils.h"
#include "tools/time_limits.h"
#include "tools/wait.h"

using namespace std::chrono;

QString LoginSettingsProblem(const LoginSettings& s) {
    if (TrimSpaces(s.address).isEmpty())
        return QStringLiteral("必须先设置登录网址！");
    if (!s.ipLogin && (TrimSpaces(s.account).isEmpty() || TrimSpaces(s.password).isEmpty()))
        return QStringLiteral("帐号登录,必须先设置登录帐号和登录密码！");
    return {};
}

AccountLoginPlan PlanAccountLogin(const PageDocument& document, const QString& account,
                                  const QString& password) {
    static const QStringList accountNames = {QStringLiteral("userid"), QStringLiteral("user"),
                                             QStringLiteral("username"), QStringLiteral("useruid")};
    static const QStringList passwordNames = {QStringLiteral("pass"), QStringLiteral("password"),
                                              QStringLiteral("passwd")};
    AccountLoginPlan plan;
    int filled = 0;
    for (int i : document.getElementsByTagName(QStringLiteral("INPUT"))) {
        const PageElement& e = document.at(i);
        const QString name = e.name.toLower();
        if (accountNames.contains(name)) {
            ++filled;
            plan.fields.append({i, account});
        }
        if (passwordNames.contains(name)) {
            ++filled;
            plan.fields.append({i, password});
        }
        if (e.type.toLower() == u"submit" && filled > 1) {
            plan.submit = i;
            break;
        }
    }
    return plan;
}

SiteLogin::SiteLogin(BrowserPage* page, Prompter& prompter, QObject* parent)
    : QObject(parent)
    , page_(page)
    , prompter_(prompter) {
    if (!page)
        return;
    connect(page, &BrowserPage::MainFrameNavigation, this, [this] {
        navigated_ = true;
        emit woke();
    });
    // Only a load that started after the request counts: the end of an earlier
    // one must not end the wait.
    connect(page, &BrowserPage::DocumentComplete, this, [this] {
        if (navigated_)
            pageLoading_ = false;
        emit woke();
    });
    connect(page, &QWebEnginePage::loadStarted, this, &SiteLogin::woke);
    connect(page, &QObject::destroyed, this, &SiteLogin::woke);
}

void SiteLogin::setRunning(bool on) {
    if (running_ == on)
        return;
    running_ = on;
    emit runningChanged(on);
}

void SiteLogin::setBrowsing(int delta) {
    const bool before = browsing();
    browsing_ += delta;
    if (browsing() != before)
        emit browsingChanged(browsing());
}

void SiteLogin::shutDown() {
    closed_ = true;
    emit woke();
}

void SiteLogin::expectPage() {
    pageClock_.start();
    pageLoading_ = true;
    navigated_ = false;
}

QCoro::Task<void> SiteLogin::waitForPage() {
    QPointer<SiteLogin> self = this;
    const milliseconds limit = TimeLimits::Scaled(TimeLimits::LoginPageLoad);
    while (!closed_ && page_) {
        if (!pageLoading_ && !page_->Busy() && !page_->isLoading())
            break;
        const milliseconds left = limit - milliseconds(pageClock_.elapsed());
        if (left <= milliseconds(0))
            break;
        // The poll catches a load that ran into another and reported nothing.
        co_await WaitForSignal(this, &SiteLogin::woke, std::min(left, TimeLimits::PagePoll));
        if (!self)
            co_return;
    }
}

QCoro::Task<void> SiteLogin::pause(milliseconds length) {
    QPointer<SiteLogin> self = this;
    QElapsedTimer clock;
    clock.start();
    while (!closed_) {
        const milliseconds left = length - milliseconds(clock.elapsed());
        if (left <= milliseconds(0))
            break;
        co_await WaitForSignal(this, &SiteLogin::woke, left);
        if (!self)
            co_return;
    }
}

QCoro::Task<bool> SiteLogin::loadAndWait(QString address) {
    QPointer<SiteLogin> self = this;
    if (closed_ || !page_ || address.isEmpty())
        co_return false;
    setBrowsing(+1);
    expectPage();
    const bool accepted = page_->Navigate(address).isValid();
    if (accepted)
        co_await waitForPage();
    if (!self)
        co_return false;
    setBrowsing(-1);
    // Whatever the pane showed before is not the login page: a refused address or a
    // load that never finished must not get the credentials.
    co_return accepted&& navigated_ && !pageLoading_;
}

QCoro::Task<void> SiteLogin::clickAndWait(PageElement element) {
    QPointer<SiteLogin> self = this;
    if (closed_ || !page_)
        co_return;
    expectPage();
    const bool clicked = co_await page_->Click(element);
    if (!self || !clicked)
        co_return;
    co_await waitForPage();
}

QCoro::Task<void> SiteLogin::Browse() {
    // A running login owns the page; leaving it would cancel the form's submission.
    if (closed_ || browsing() || running_)
        co_return;
    co_await loadAndWait(TrimSpaces(settings.address));
}

QCoro::Task<void> SiteLogin::fillAccountForm(const PageDocument& document, LoginSettings s) {
    QPointer<SiteLogin> self = this;
    const AccountLoginPlan plan =
        PlanAccountLogin(document, TrimSpaces(s.account), TrimSpaces(s.password));
    if (!plan.fields.isEmpty() && page_) {
        // All fields in one script: a page with thousands of them cannot drag the
        // login (and the downloads waiting for it) out. A field that went away
        // meanwhile is passed over; the form is still tried.
        QList<std::pair<PageElement, QString>> values;
        for (const auto& [element, value] : plan.fields)
            values.append({document.at(element), value});
        co_await page_->SetValues(values);
        if (!self || closed_)
            co_return;
    }
    if (plan.submit >= 0)
        co_await clickAndWait(document.at(plan.submit));
}

QCoro::Task<void> SiteLogin::Run(bool interactive) {
    QPointer<SiteLogin> self = this;
    if (closed_)
        co_return;
    const QString problem = LoginSettingsProblem(settings);
    if (!problem.isEmpty()) {
        if (interactive)
            prompter_.message(problem, Prompter::Icon::Critical);
        if (self)
            emit autoLoginCleared();
        co_return;
    }
    if (running_)
        co_return; // one login at a time
    setRunning(true);
    // The settings the login started with, whatever the user types meanwhile.
    const LoginSettings s = settings;
    const bool loaded = co_await loadAndWait(TrimSpaces(s.address));
    if (!self || closed_)
        co_return;
    std::optional<PageDocument> document;
    if (loaded && page_)
        document = co_await page_->Document(QStringList());
    if (!self || closed_)
        co_return;
    if (document && s.ipLogin) {
        const int button = document->getElementById(QStringLiteral("submitip"));
        if (button >= 0)
            co_await clickAndWait(document->at(button));
    } else if (document) {
        co_await fillAccountForm(*document, s);
    }
    if (!self || closed_)
        co_return;
    // Gives the site's cookies time to reach the downloads before the next one starts.
    co_await pause(TimeLimits::Scaled(TimeLimits::LoginPause));
    if (!self || closed_)
        co_return;
    setRunning(false);
}
