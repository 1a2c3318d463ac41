#include "app/browser_page.h"
#include "app/browser_profile.h"
#include "download/download_session.h"
#include "download/scheduler.h"
#include "download/task_list.h"
#include "fixture_server.h"
#include "scripted_prompter.h"
#include "settings/shared_options.h"
#include "test_main.h"
#include "tools/time_limits.h"
#include "web_test.h"

#include <QFile>
#include <QNetworkCookieJar>
#include <QTemporaryDir>
#include <QWebEngineProfile>

// A login made in a browser pane is carried by the downloads of both methods.
class TestDownloadCookies : public QObject {
    Q_OBJECT

    FixtureServer server_;

private slots:
    void browserCookiesAndAgentReachTheDownloads() {
        TimeLimits::SetScale(0.01);
        QVERIFY(server_.start());
        QWebEngineProfile* profile = CreateBrowserProfile(this);
        const QByteArray agent = profile->httpUserAgent().toUtf8();
        server_.route(QStringLiteral("/login.html"), [](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.headers.append(
                qMakePair(QByteArray("Set-Cookie"), QByteArray("qmsession=abc123; Path=/")));
            r.body = "<html><head><title>in</title></"
                     "head><body><script>document.cookie='qmscript=yes; path=/';"
                     "</script>signed in</body></html>";
            return r;
        });
        server_.route(QStringLiteral("/gated.pdf"), [agent](const FixtureServer::Request& request) {
            FixtureServer::Response r;
            const QByteArray cookies = request.headers.value("cookie");
            if (cookies.contains("qmsession=abc123") && cookies.contains("qmscript=yes") &&
                request.headers.value("user-agent") == agent) {
                r.contentType = "application/pdf";
                r.body = "%PDF-1.4 members only\n%%EOF\n";
            } else {
                r.status = 403;
                r.body = "<html><head><title>403</title></head><body>sign in first</body></html>";
            }
            return r;
        });

        DownloadSession session(profile);
        {
            BrowserPage page(profile);
            QVERIFY(LoadAndWait(&page, server_.url(QStringLiteral("/login.html"))));
            QTRY_COMPARE(
                session.cookieJar()->cookiesForUrl(QUrl(server_.url(QStringLiteral("/")))).size(),
                2);
        }
        for (int method : {1, 2}) {
            QTemporaryDir dir;
            TaskListModel tasks;
            SharedOptions options;
            options.DownloadMethod = qint16(method);
            ScriptedPrompter prompter;
            tasks.appendTask(server_.url(QStringLiteral("/gated.pdf")), QStringLiteral("members"),
                             QStringLiteral("pdf"), dir.path() + u'/');
            DownloadScheduler scheduler(tasks, options, session, prompter);
            scheduler.startSupervisor();
            scheduler.Start();
            QTRY_VERIFY_WITH_TIMEOUT(tasks.检测是否下载列表完毕(), 20000);
            QCOMPARE(tasks.task(1).state, TaskState::Done);
            QFile f(tasks.task(1).filePath());
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("%PDF-1.4 members only\n%%EOF\n"));
        }
    }
};

QM_TEST_GUI_MAIN(TestDownloadCookies)
#include "tst_download_cookies.moc"
