#include "app/app_context.h"
#include "app/browser_profile.h"
#include "app/browser_view.h"
#include "download/download_options_panel.h"
#include "download/download_window.h"
#include "download/login_pane.h"
#include "download/site_login.h"
#include "download/task_list_view.h"
#include "fixture_server.h"
#include "scripted_prompter.h"
#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "test_main.h"
#include "tools/time_limits.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

// The login pane of the download window, and the automatic login that lets a
// members-only file arrive after its first attempt brought the sign-in page.
class TestDownloadLogin : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QWebEngineProfile* profile_ = nullptr;
    std::unique_ptr<SettingsStore> store_;
    SharedOptions options_;
    std::unique_ptr<AppContext> context_;
    FixtureServer server_;

    static const inline QString GatedPdf =
        QStringLiteral("/www.sciencedirect.com/pdf/members/0025.pdf");

    int count(const QString& entry) const { return int(server_.log.count(entry)); }

private slots:
    void initTestCase() {
        // Ticks of 200 ms, page waits of 2 s, a login pause of 1 s.
        TimeLimits::SetScale(0.2);
        profile_ = CreateBrowserProfile(this);
        store_ = std::make_unique<SettingsStore>(dir_.filePath(QStringLiteral("s.ini")));
        context_ = std::make_unique<AppContext>(
            AppContext{*store_, options_, profile_, QString(), QString()});
        server_.setRoot(QStringLiteral(QUILLMARSH_DEMO_SITE)); // its sign-in pages and gated paper
        QVERIFY(server_.start());
    }

    void thePaneAndItsChecks() {
        TimeLimits::SetScale(0.02); // a refresh every 1.2 s
        ScriptedPrompter prompter;
        fFileDownload w(*context_, &prompter);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        w.show();
        LoginPane* pane = w.PicWebBK;
        QCOMPARE(pane->Text3->echoMode(), QLineEdit::Password);
        QCOMPARE(pane->Combo3->currentText(), QStringLiteral("下载到网页文件(htm/html/asp)文件"));
        QVERIFY(pane->Option4->isChecked());
        QVERIFY(!pane->Timer2->isActive());
        QCOMPARE(w.listArea->currentWidget(), w.ListView3); // the list is in front

        // "自动登录" refuses what cannot sign in, and clears itself again.
        pane->Check2->setChecked(true);
        QCOMPARE(prompter.messages().last(), QStringLiteral("必须先设置登录网址！"));
        QCOMPARE(prompter.shown.last().icon, Prompter::Icon::Critical);
        QVERIFY(!pane->Check2->isChecked());
        pane->Text1->setText(server_.url(QStringLiteral("/login/index.html")));
        pane->Text2->setText(QStringLiteral("reader"));
        pane->Check2->setChecked(true);
        QCOMPARE(prompter.messages().last(),
                 QStringLiteral("帐号登录,必须先设置登录帐号和登录密码！"));
        QVERIFY(!pane->Check2->isChecked());
        QVERIFY(!w.scheduler->settings.autoLogin);
        pane->Option5->setChecked(true); // IP login needs the address only
        pane->Check2->setChecked(true);
        QVERIFY(pane->Check2->isChecked());
        QVERIFY(w.scheduler->settings.autoLogin);
        QCOMPARE(prompter.messages().size(), 2);
        pane->Check2->setChecked(false);
        QVERIFY(!w.scheduler->settings.autoLogin);

        // "网页登录" shows what the selected task's address gives, unless the pane
        // refreshes or logs in by itself; "关闭(隐藏)" leaves a blank page behind.
        w.tasks.appendTask(server_.url(QStringLiteral("/nowhere.html")), QStringLiteral("n"),
                           QStringLiteral("pdf"), dir_.path() + u'/');
        w.ListView3->selectRow(0);
        w.Picture3->Command1->click();
        QCOMPARE(w.listArea->currentWidget(), pane);
        QTRY_COMPARE(pane->Web1->url(), QUrl(server_.url(QStringLiteral("/nowhere.html"))));
        pane->Command3->click();
        QCOMPARE(w.listArea->currentWidget(), w.ListView3);
        QTRY_COMPARE(pane->Web1->url(), QUrl(QStringLiteral("about:blank")));
        pane->Check1->setChecked(true);
        QVERIFY(pane->Timer2->isActive());
        const int shown = count(QStringLiteral("GET /nowhere.html"));
        w.Picture3->Command1->click(); // refreshing: the selected address is not loaded
        pane->Text1->setText(server_.url(QStringLiteral("/abstract.html")));
        pane->Command2->click(); // "浏览"
        QVERIFY(!pane->Command2->isEnabled());
        QTRY_VERIFY(pane->Command2->isEnabled());
        QCOMPARE(pane->Web1->url(), QUrl(server_.url(QStringLiteral("/abstract.html"))));
        pane->Command3->click(); // hidden while refreshing: the page stays and reloads
        QTRY_VERIFY_WITH_TIMEOUT(count(QStringLiteral("GET /abstract.html")) >= 2, 30000);
        QCOMPARE(pane->Web1->url(), QUrl(server_.url(QStringLiteral("/abstract.html"))));
        QCOMPARE(count(QStringLiteral("GET /nowhere.html")), shown);
        pane->Check1->setChecked(false);
        QVERIFY(!pane->Timer2->isActive());
        w.tasks.clear();
        QVERIFY(w.close());
        TimeLimits::SetScale(0.2);
    }

    void gatedPaperArrivesAfterAnAutomaticLogin_data() {
        QTest::addColumn<bool>("ipLogin");
        QTest::addColumn<int>("method");
        QTest::newRow("account form, parallel downloads") << false << 2;
        QTest::newRow("IP sign-in, one at a time") << true << 1;
    }

    void gatedPaperArrivesAfterAnAutomaticLogin() {
        QFETCH(bool, ipLogin);
        QFETCH(int, method);
        // Signed out: the profile forgets the site's cookie, and so do the downloads.
        profile_->cookieStore()->deleteAllCookies();
        QTemporaryDir folder;
        ScriptedPrompter prompter;
        options_.DownloadMethod = qint16(method);
        store_->setInteger(SettingKeys::DownloadMethod(), method);
        auto* w = new fFileDownload(*context_, &prompter);
        QPointer<fFileDownload> guard = w;
        w->show();
        LoginPane* pane = w->PicWebBK;
        pane->Text1->setText(server_.url(ipLogin ? QStringLiteral("/login/ip.html")
                                                 : QStringLiteral("/login/index.html")));
        pane->Text2->setText(QStringLiteral(" reader "));
        pane->Text3->setText(QStringLiteral("open sesame"));
        (ipLogin ? pane->Option5 : pane->Option4)->setChecked(true);
        pane->Check2->setChecked(true);
        QVERIFY(pane->Check2->isChecked());
        w->Picture3->Combo4->setCurrentIndex(1); // re-download web-page rows
        w->Picture3->Check3->setChecked(true);

        QStringList types; // every type the row showed
        connect(&w->tasks, &QAbstractItemModel::dataChanged, this, [w, &types] {
            if (w->tasks.count() > 0 && !types.contains(w->tasks.task(1).type))
                types.append(w->tasks.task(1).type);
        });
        const int logins = int(server_.requests.size());
        w->tasks.appendTask(server_.url(GatedPdf), QStringLiteral("members"), QStringLiteral("pdf"),
                            folder.path() + u'/');
        w->Picture3->Command4->click();
        QTRY_VERIFY_WITH_TIMEOUT(
            w->tasks.task(1).state == TaskState::Done && w->tasks.task(1).type == u"pdf", 60000);
        QFile pdf(w->tasks.task(1).filePath());
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QVERIFY(pdf.readAll().contains("Demo paper 25 (members only)"));
        QVERIFY(types.contains(QStringLiteral("htm")) || types.contains(QStringLiteral("html")));
        // The sign-in page it got first is gone; only the paper is there.
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files),
                 QStringList{QStringLiteral("members.pdf")});

        // What the server saw: the paper asked for without the cookie, the sign-in
        // (fields in any case, submitted after them), the paper asked for with it.
        QList<FixtureServer::Request> seen = server_.requests.mid(logins);
        int firstPaper = -1, signIn = -1, lastPaper = -1;
        for (int i = 0; i < seen.size(); ++i) {
            const FixtureServer::Request& r = seen.at(i);
            if (r.path == GatedPdf) {
                if (firstPaper < 0)
                    firstPaper = i;
                lastPaper = i;
            }
            if (r.method == "POST" && r.path.startsWith(u"/login/"))
                signIn = signIn < 0 ? i : signIn;
        }
        QVERIFY(firstPaper >= 0 && signIn > firstPaper && lastPaper > signIn);
        QVERIFY(!seen.at(firstPaper).headers.value("cookie").contains("demosession=member"));
        QVERIFY(seen.at(lastPaper).headers.value("cookie").contains("demosession=member"));
        const FixtureServer::Request& form = seen.at(signIn);
        if (ipLogin) {
            QCOMPARE(form.path, QStringLiteral("/login/ipsubmit"));
        } else {
            QCOMPARE(form.path, QStringLiteral("/login/submit"));
            QCOMPARE(form.body, QByteArray("UserName=reader&PassWord=open+sesame"));
        }
        w->Picture3->Command31->click(); // clears the automatic re-download
        QTRY_VERIFY(!pane->login()->running());
        QVERIFY(w->close());
        QTRY_VERIFY(guard.isNull());
    }

    void aRunningLoginKeepsItsPage() {
        ScriptedPrompter prompter;
        fFileDownload w(*context_, &prompter);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        w.show();
        LoginPane* pane = w.PicWebBK;
        pane->Option5->setChecked(true);
        pane->Text1->setText(server_.url(QStringLiteral("/login/ip.html")));
        pane->Check1->setChecked(true);
        w.ShowLoginPane();
        const int posted = count(QStringLiteral("POST /login/ipsubmit"));
        pane->Command5->click();
        QTRY_COMPARE(count(QStringLiteral("POST /login/ipsubmit")), posted + 1);
        const QUrl welcome(server_.url(QStringLiteral("/login/ipsubmit")));
        QTRY_COMPARE(pane->Web1->url(), welcome);
        QVERIFY(pane->login()->running()); // its pause
        pane->Check1->setChecked(false);
        pane->Command3->click(); // hidden: the login keeps its page all the same
        QCOMPARE(w.listArea->currentWidget(), w.ListView3);
        QTest::qWait(100);
        QCOMPARE(pane->Web1->url(), welcome);
        QCOMPARE(count(QStringLiteral("POST /login/ipsubmit")), posted + 1);
        QTRY_VERIFY(!pane->login()->running());
        pane->Command3->click();
        QTRY_COMPARE(pane->Web1->url(), QUrl(QStringLiteral("about:blank")));
        QVERIFY(w.close());
    }

    void closingDuringALoginEndsIt() {
        server_.route(QStringLiteral("/slow-login"), [](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.delayMs = 60000; // a sign-in page that never comes
            return r;
        });
        ScriptedPrompter prompter;
        auto* w = new fFileDownload(*context_, &prompter);
        QPointer<fFileDownload> guard = w;
        w->show();
        LoginPane* pane = w->PicWebBK;
        pane->Option5->setChecked(true);
        pane->Text1->setText(server_.url(QStringLiteral("/slow-login")));
        pane->Command5->click(); // "测试登录"
        QVERIFY(!pane->Command5->isEnabled());
        QVERIFY(!pane->Command2->isEnabled());
        pane->Command5->click();  // disabled: a second press does nothing
        pane->login()->Run(true); // nor does a second login started otherwise
        QTRY_COMPARE(count(QStringLiteral("GET /slow-login")), 1);
        // No download starts while the login runs.
        w->tasks.appendTask(server_.url(QStringLiteral("/detailed.html")), QStringLiteral("a"),
                            QStringLiteral("htm"), dir_.path() + u'/');
        w->Picture3->Command4->click();
        QTest::qWait(int(TimeLimits::Scaled(TimeLimits::SchedulerTick).count()) * 3);
        QCOMPARE(count(QStringLiteral("GET /detailed.html")), 0);
        QVERIFY(pane->login()->running());
        w->Picture3->Command31->click();
        w->tasks.clear();
        QVERIFY(w->close());
        QTRY_VERIFY(guard.isNull());
        // Longer than every wait of the login: nothing of it runs on.
        QTest::qWait(
            int(TimeLimits::Scaled(TimeLimits::LoginPageLoad + TimeLimits::LoginPause).count()) +
            500);
        QCOMPARE(count(QStringLiteral("GET /slow-login")), 1);
        QVERIFY(prompter.shown.isEmpty());
    }
};

QM_TEST_WIDGETS_MAIN(TestDownloadLogin)
#include "tst_download_login.moc"
