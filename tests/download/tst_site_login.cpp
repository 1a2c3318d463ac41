#include "app/browser_page.h"
#include "app/browser_profile.h"
#include "app/page_document.h"
#include "download/download_session.h"
#include "download/site_login.h"
#include "fixture_server.h"
#include "scripted_prompter.h"
#include "test_main.h"
#include "tools/time_limits.h"
#include "web_test.h"

#include <QElapsedTimer>
#include <QNetworkCookieJar>
#include <QSignalSpy>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

namespace {

PageElement Input(const QString& name, const QString& type = QStringLiteral("text")) {
    PageElement e;
    e.tagName = QStringLiteral("INPUT");
    e.name = name;
    e.type = type;
    return e;
}

QByteArray Form(const QByteArray& inputs, const QByteArray& action = "/signin") {
    return "<html><head><title>Sign in</title></head><body><form method=\"post\" action=\"" +
           action + "\">" + inputs + "</form></body></html>";
}

} // namespace

// The site login on its own browser page, against pages of the test server.
class TestSiteLogin : public QObject {
    Q_OBJECT

    FixtureServer server_;
    QWebEngineProfile* profile_ = nullptr;

    // POST bodies that reached path.
    QList<QByteArray> posts(const QString& path) const {
        QList<QByteArray> bodies;
        for (const FixtureServer::Request& r : server_.requests) {
            if (r.method == "POST" && r.path == path)
                bodies.append(r.body);
        }
        return bodies;
    }
    int gets(const QString& path) const {
        return int(server_.log.count(QStringLiteral("GET ") + path));
    }

private slots:
    void initTestCase() {
        // Waits of 2 s for a page and a pause of 1 s: room for a busy machine.
        TimeLimits::SetScale(0.2);
        profile_ = CreateBrowserProfile(this);
        for (const char* path : {"/signin", "/ip"}) {
            server_.route(QString::fromLatin1(path), [](const FixtureServer::Request&) {
                FixtureServer::Response r;
                r.headers.append(
                    qMakePair(QByteArray("Set-Cookie"), QByteArray("member=yes; Path=/")));
                r.body = "<html><head><title>Welcome</title></head><body>in</body></html>";
                return r;
            });
        }
        QVERIFY(server_.start());
    }

    void thePlanFollowsTheFormsOrder() {
        const auto plan = [](const QList<PageElement>& inputs) {
            PageDocument doc;
            for (const PageElement& e : inputs)
                doc.add(e);
            return PlanAccountLogin(doc, QStringLiteral("me"), QStringLiteral("pw"));
        };
        // Names in any case; the button after both fields is pressed.
        AccountLoginPlan p = plan({Input(QStringLiteral("UserName")), Input(QStringLiteral("x")),
                                   Input(QStringLiteral("PassWord"), QStringLiteral("password")),
                                   Input(QStringLiteral("go"), QStringLiteral("SUBMIT")),
                                   Input(QStringLiteral("user"))});
        QCOMPARE(p.fields, (QList<std::pair<int, QString>>{{0, QStringLiteral("me")},
                                                           {2, QStringLiteral("pw")}}));
        QCOMPARE(p.submit, 3);
        // The button first: fields filled, nothing pressed.
        p = plan({Input(QStringLiteral("go"), QStringLiteral("submit")),
                  Input(QStringLiteral("USERID")), Input(QStringLiteral("passwd"))});
        QCOMPARE(p.fields.size(), 2);
        QCOMPARE(p.submit, -1);
        // Two account fields count as two filled fields.
        p = plan({Input(QStringLiteral("user")), Input(QStringLiteral("user")),
                  Input(QString(), QStringLiteral("submit"))});
        QCOMPARE(p.submit, 2);
        // One field is not enough; a button of another tag is not an INPUT.
        p = plan({Input(QStringLiteral("useruid")), Input(QString(), QStringLiteral("submit"))});
        QCOMPARE(p.submit, -1);
        PageElement button = Input(QStringLiteral("go"), QStringLiteral("submit"));
        button.tagName = QStringLiteral("BUTTON");
        p = plan({Input(QStringLiteral("username")), Input(QStringLiteral("pass")), button});
        QCOMPARE(p.submit, -1);

        QCOMPARE(LoginSettingsProblem({QStringLiteral("   "), {}, {}, true}),
                 QStringLiteral("必须先设置登录网址！"));
        QCOMPARE(LoginSettingsProblem({QStringLiteral("http://x/"), QStringLiteral("me"),
                                       QStringLiteral("  "), false}),
                 QStringLiteral("帐号登录,必须先设置登录帐号和登录密码！"));
        QCOMPARE(LoginSettingsProblem({QStringLiteral("http://x/"), {}, {}, true}), QString());
    }

    void accountAndIpLoginsSubmitTheRightForm() {
        server_.page(QStringLiteral("/form"),
                     Form("<input name=\"UserName\"><input type=\"password\" name=\"PassWord\">"
                          "<input type=\"submit\" value=\"in\">"));
        server_.page(QStringLiteral("/button-first"),
                     Form("<input type=\"submit\" value=\"in\"><input name=\"user\">"
                          "<input type=\"password\" name=\"password\">",
                          "/never"));
        server_.page(QStringLiteral("/ip-page"),
                     Form("<input type=\"submit\" id=\"submitip\" value=\"IP\">", "/ip"));
        server_.page(QStringLiteral("/no-ip-button"),
                     Form("<input type=\"submit\" id=\"other\" value=\"x\">", "/never"));
        DownloadSession session(profile_);
        BrowserPage page(profile_);
        ScriptedPrompter prompter;
        SiteLogin login(&page, prompter);
        QSignalSpy running(&login, &SiteLogin::runningChanged);

        login.settings = {server_.url(QStringLiteral("/form")), QStringLiteral(" reader "),
                          QStringLiteral("s3cret "), false};
        QElapsedTimer clock;
        clock.start();
        Await(login.Run(true));
        QCOMPARE(posts(QStringLiteral("/signin")),
                 QList<QByteArray>{"UserName=reader&PassWord=s3cret"});
        QCOMPARE(running.size(), 2); // on, then off after the pause
        QVERIFY(!login.running());
        QVERIFY(clock.elapsed() >= TimeLimits::Scaled(TimeLimits::LoginPause).count());
        QCOMPARE(page.title(), QStringLiteral("Welcome"));
        // The site's cookie is where the downloads look.
        QTRY_COMPARE(
            session.cookieJar()->cookiesForUrl(QUrl(server_.url(QStringLiteral("/x")))).size(), 1);

        login.settings.address = server_.url(QStringLiteral("/button-first"));
        Await(login.Run(true));
        login.settings = {server_.url(QStringLiteral("/no-ip-button")), {}, {}, true};
        Await(login.Run(true));
        QVERIFY(posts(QStringLiteral("/never")).isEmpty());
        QCOMPARE(gets(QStringLiteral("/button-first")), 1);

        login.settings.address = server_.url(QStringLiteral("/ip-page"));
        Await(login.Run(false));
        QCOMPARE(posts(QStringLiteral("/ip")).size(), 1);
        QVERIFY(prompter.shown.isEmpty());
    }

    void aPageFullOfFieldsCannotDragTheLoginOut() {
        QByteArray inputs;
        for (int i = 0; i < 4000; ++i)
            inputs += "<input name=\"user\">";
        server_.page(QStringLiteral("/crowded"), Form(inputs, "/never"));
        BrowserPage page(profile_);
        ScriptedPrompter prompter;
        SiteLogin login(&page, prompter);
        login.settings = {server_.url(QStringLiteral("/crowded")), QStringLiteral("me"),
                          QStringLiteral("pw"), false};
        QElapsedTimer clock;
        clock.start();
        Await(login.Run(false));
        // Every field is filled, in one go; no submit button, so nothing is sent.
        QVERIFY2(
            clock.elapsed() <
                TimeLimits::Scaled(TimeLimits::LoginPageLoad + TimeLimits::LoginPause).count() +
                    2000,
            qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(Evaluate(&page, QStringLiteral("document.getElementsByName('user')[3999].value"))
                     .toString(),
                 QStringLiteral("me"));
        QVERIFY(posts(QStringLiteral("/never")).isEmpty());
    }

    void theCredentialsGoOnlyIntoTheLoginPage() {
        server_.page(QStringLiteral("/elsewhere"),
                     Form("<input name=\"user\"><input type=\"password\" name=\"pass\">"
                          "<input type=\"submit\" value=\"in\">",
                          "/stolen"));
        server_.route(QStringLiteral("/slow-login"), [](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.delayMs = 8000; // longer than the login's wait for its page
            r.body = Form("<input name=\"user\"><input name=\"pass\"><input type=\"submit\">");
            return r;
        });
        BrowserPage page(profile_);
        QVERIFY(LoadAndWait(&page, server_.url(QStringLiteral("/elsewhere"))));
        ScriptedPrompter prompter;
        SiteLogin login(&page, prompter);
        // The pane still shows another site's form: neither a login page that does not
        // come in time nor an address the page refuses may put the account into it.
        for (const QString& address :
             {server_.url(QStringLiteral("/slow-login")), QStringLiteral("http://[bad")}) {
            login.settings = {address, QStringLiteral("me"), QStringLiteral("pw"), false};
            Await(login.Run(false));
            QVERIFY(!login.running());
        }
        QVERIFY(posts(QStringLiteral("/stolen")).isEmpty());

        // A field a page script put in since the snapshot: nothing moves into it.
        QVERIFY(LoadAndWait(&page, server_.url(QStringLiteral("/elsewhere"))));
        const std::optional<PageDocument> doc = Await(page.Document(QStringList()));
        QVERIFY(doc);
        const AccountLoginPlan plan =
            PlanAccountLogin(*doc, QStringLiteral("me"), QStringLiteral("pw"));
        QCOMPARE(plan.fields.size(), 2);
        Evaluate(&page, QStringLiteral("var f=document.forms[0],i=document.createElement('input');"
                                       "i.name='note';f.insertBefore(i,f.firstChild);"));
        QList<std::pair<PageElement, QString>> values;
        for (const auto& [element, value] : plan.fields)
            values.append({doc->at(element), value});
        QCOMPARE(Await(page.SetValues(values)), 0);
        QCOMPARE(Evaluate(&page, QStringLiteral("document.getElementsByName('note')[0].value"))
                     .toString(),
                 QString());

        // "浏览" during a login would cancel the form's submission: it waits its turn.
        server_.page(QStringLiteral("/browse-target"), "<html><body>b</body></html>");
        login.settings = {server_.url(QStringLiteral("/form")), QStringLiteral("a"),
                          QStringLiteral("b"), false};
        const int posted = int(posts(QStringLiteral("/signin")).size());
        QCoro::Task<void> run = login.Run(false);
        QTRY_COMPARE(int(posts(QStringLiteral("/signin")).size()), posted + 1);
        login.settings.address = server_.url(QStringLiteral("/browse-target"));
        Await(login.Browse());
        QCOMPARE(gets(QStringLiteral("/browse-target")), 0);
        Await(std::move(run));
    }

    void missingSettingsStopAutomaticLogins() {
        BrowserPage page(profile_);
        ScriptedPrompter prompter;
        SiteLogin login(&page, prompter);
        QSignalSpy cleared(&login, &SiteLogin::autoLoginCleared);
        QSignalSpy running(&login, &SiteLogin::runningChanged);
        login.settings = {QStringLiteral("  "), QStringLiteral("me"), QStringLiteral("pw"), false};
        Await(login.Run(false)); // automatic: silent
        QVERIFY(prompter.shown.isEmpty());
        QCOMPARE(cleared.size(), 1);
        login.settings.address = server_.url(QStringLiteral("/form"));
        login.settings.password.clear();
        Await(login.Run(true));
        QCOMPARE(prompter.messages(),
                 QStringList{QStringLiteral("帐号登录,必须先设置登录帐号和登录密码！")});
        QCOMPARE(prompter.shown.last().icon, Prompter::Icon::Critical);
        QCOMPARE(cleared.size(), 2);
        QVERIFY(running.isEmpty());

        // "浏览" loads the address and waits for it; nothing without one.
        QSignalSpy browsing(&login, &SiteLogin::browsingChanged);
        login.settings.address = QStringLiteral(" ");
        Await(login.Browse());
        QVERIFY(browsing.isEmpty());
        login.settings.address = server_.url(QStringLiteral("/ip-page"));
        Await(login.Browse());
        QCOMPARE(browsing.size(), 2);
        QCOMPARE(page.url(), QUrl(server_.url(QStringLiteral("/ip-page"))));
        QVERIFY(!login.pageLoading());
    }

    void oneLoginAtATimeAndClosingEndsIt() {
        BrowserPage page(profile_);
        ScriptedPrompter prompter;
        SiteLogin login(&page, prompter);
        login.settings = {server_.url(QStringLiteral("/form")), QStringLiteral("a"),
                          QStringLiteral("b"), false};
        const int before = gets(QStringLiteral("/form"));
        const int posted = int(posts(QStringLiteral("/signin")).size());
        QCoro::Task<void> first = login.Run(true);
        QVERIFY(login.running());
        QElapsedTimer clock;
        clock.start();
        Await(login.Run(true)); // the second press finds a login running
        QVERIFY(clock.elapsed() < 500);
        QTRY_COMPARE(int(posts(QStringLiteral("/signin")).size()), posted + 1);
        QCOMPARE(gets(QStringLiteral("/form")), before + 1);
        // Closing during the pause ends it at once.
        clock.restart();
        login.shutDown();
        Await(std::move(first));
        QVERIFY(clock.elapsed() < TimeLimits::Scaled(TimeLimits::LoginPause).count());
        Await(login.Run(true)); // nothing more after closing
        QCOMPARE(gets(QStringLiteral("/form")), before + 1);

        // The login (or its page) going away during a wait for a page that never comes.
        server_.route(QStringLiteral("/hang"), [](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.delayMs = 60000;
            return r;
        });
        for (bool deletePage : {false, true}) {
            auto* hanging = new BrowserPage(profile_);
            auto* gone = new SiteLogin(hanging, prompter);
            gone->settings = {server_.url(QStringLiteral("/hang")), {}, {}, true};
            QCoro::Task<void> run = gone->Run(false);
            QTRY_VERIFY(hanging->isLoading());
            if (deletePage) {
                delete hanging;
                QTRY_VERIFY(run.isReady()); // after the pause: nothing was there to press
                QVERIFY(!gone->running());
                delete gone;
            } else {
                delete gone;
                QTRY_VERIFY(run.isReady());
                delete hanging;
            }
        }
    }
};

QM_TEST_GUI_MAIN(TestSiteLogin)
#include "tst_site_login.moc"
