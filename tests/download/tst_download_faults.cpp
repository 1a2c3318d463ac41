#include "download/download_session.h"
#include "download/scheduler.h"
#include "download/task_commands.h"
#include "download/task_list.h"
#include "download/transfer_core.h"
#include "fixture_server.h"
#include "scripted_prompter.h"
#include "settings/settings_keys.h"
#include "settings/shared_options.h"
#include "test_main.h"
#include "tools/time_limits.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QTimer>

// Ways the download manager used to lose, mix or misreport files, each staged.
class TestDownloadFaults : public QObject {
    Q_OBJECT

    FixtureServer server_;
    QByteArray pdf_;

    struct Run {
        QTemporaryDir dir;
        TaskListModel tasks;
        SharedOptions options;
        ScriptedPrompter prompter;
        DownloadSession session{nullptr};
        std::unique_ptr<DownloadScheduler> scheduler;
        QString folder() const { return dir.path() + u'/'; }

        void add(const QString& url, const QString& name, const QString& folderText = {}) {
            tasks.appendTask(url, name, QStringLiteral("pdf"),
                             folderText.isEmpty() ? folder() : folderText);
        }
        void begin(int method, const QString& policy, Prompter* prompterToUse = nullptr) {
            options.DownloadMethod = qint16(method);
            scheduler = std::make_unique<DownloadScheduler>(
                tasks, options, session, prompterToUse ? *prompterToUse : prompter);
            scheduler->settings.threads = 2;
            scheduler->settings.policy = policy;
            scheduler->startSupervisor();
            scheduler->Start();
        }
        bool finished() const {
            return tasks.检测是否下载列表完毕() && scheduler->transfersInFlight() == 0;
        }
    };

    static QByteArray read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    static QStringList files(const QString& folder) {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    QString url(const QString& path) const { return server_.url(path); }
    int served(const QString& path) const {
        return int(server_.log.count(QStringLiteral("GET ") + path));
    }

    void route(const QString& path, std::function<void(FixtureServer::Response&)> shape) {
        server_.route(path, [this, shape](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.body = pdf_;
            shape(r);
            return r;
        });
    }

private slots:
    void initTestCase() {
        TimeLimits::SetScale(0.01);
        pdf_ = "%PDF-1.4\n";
        for (int i = 0; pdf_.size() < 200000; ++i)
            pdf_ += QByteArray::number(i) + " 0 obj << /Type /Page >> endobj\n";
        pdf_ += "%%EOF\n";
        QVERIFY(server_.start());
        route(QStringLiteral("/ok.pdf"), [](auto&) {});
        route(QStringLiteral("/gzip.pdf"), [](auto& r) { r.gzip = true; });
        route(QStringLiteral("/"), [](auto&) {});
        route(QStringLiteral("/docs/paper.pdf"), [](auto&) {});
        server_.page(QStringLiteral("/page.html"),
                     "<html><head><title>t</title></head><body>a page</body></html>");
        for (int i = 0; i < 4; ++i)
            route(QStringLiteral("/slow%1.pdf").arg(i), [i](auto& r) {
                r.body = r.body.left(40000 + 10000 * i) + "%%EOF\n"; // each its own size
                r.dripBytes = 5000;
                r.dripDelayMs = 25;
            });
    }

    // A big file skipped, or a stopped download, used to leave a two-byte file under
    // the real name; a later run with "跳过" then took it for the download.
    void nothingStandsUnderTheRealNameUntilItIsComplete() {
        for (int method : {1, 2}) {
            Run run;
            run.options.MaxFileSizeMB = 0.1;
            run.add(url(QStringLiteral("/ok.pdf?big%1").arg(method)), QStringLiteral("paper"));
            run.begin(method, DuplicateNamePolicies::Rename);
            QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
            QCOMPARE(run.tasks.task(1).percent, QStringLiteral("大文件，跳过"));
            QCOMPARE(run.tasks.task(1).result, TaskResult::SkippedTooBig);
            QCOMPARE(files(run.folder()), QStringList());

            run.options.MaxFileSizeMB = 10;
            run.scheduler->settings.policy = DuplicateNamePolicies::Skip;
            run.add(url(QStringLiteral("/ok.pdf?again%1").arg(method)), QStringLiteral("paper"));
            run.scheduler->Start();
            QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
            QCOMPARE(run.tasks.task(2).percent, QStringLiteral("100%"));
            QCOMPARE(read(run.folder() + QStringLiteral("paper.pdf")), pdf_);
        }
    }

    // Requeue, "删除文件" and the automatic re-download of a failed row named like a
    // finished one used to delete the finished row's file.
    void commandsOfOneRowSpareAnotherRowsFile() {
        Run run;
        run.add(url(QStringLiteral("/ok.pdf?first")), QStringLiteral("x"));
        run.add(url(QStringLiteral("/404.pdf")), QStringLiteral("x"));
        run.add(url(QStringLiteral("/ok.pdf?cancelled")), QStringLiteral("x"));
        CancelWaiting(run.tasks, {3}); // a cancelled row keeps its unnumbered name
        // One at a time: the failure comes before the name is numbered.
        run.begin(1, DuplicateNamePolicies::Rename);
        QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
        const QString file = run.folder() + QStringLiteral("x.pdf");
        QCOMPARE(run.tasks.task(1).savedPath, file);
        QCOMPARE(run.tasks.task(2).state, TaskState::Failed);
        QCOMPARE(run.tasks.task(2).filePath(), file);
        QCOMPARE(run.tasks.task(3).filePath(), file);

        DeleteFilesWhere(run.tasks,
                         [](const DownloadTask& t) { return t.state == TaskState::Failed; });
        QCOMPARE(read(file), pdf_);
        run.tasks.RequeueFailedTasks();
        QCOMPARE(read(file), pdf_);
        run.scheduler->settings.autoRequeue = true; // retried every second, unasked
        const int before = served(QStringLiteral("/404.pdf"));
        QTRY_VERIFY_WITH_TIMEOUT(served(QStringLiteral("/404.pdf")) > before + 1, 10000);
        run.scheduler->Stop();
        QTRY_COMPARE(run.scheduler->transfersInFlight(), 0);
        QCOMPARE(read(file), pdf_);
        // The row's own file still goes when it is queued again.
        run.tasks.RequeueTask(1);
        QVERIFY(!QFile::exists(file));
    }

    // A row kept the path of a file it wrote after the user had deleted that file;
    // when another row saved under the same name, re-queueing the first deleted it.
    void aStalePathNeverDeletesAnotherRowsFile() {
        for (int method : {1, 2}) {
            Run run;
            run.add(url(QStringLiteral("/ok.pdf?stale%1").arg(method)), QStringLiteral("x"));
            run.begin(method, DuplicateNamePolicies::Rename);
            QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
            const QString file = run.folder() + QStringLiteral("x.pdf");
            QCOMPARE(run.tasks.task(1).savedPath, file);
            QVERIFY(QFile::remove(file)); // the user deletes it

            run.add(url(QStringLiteral("/ok.pdf?fresh%1").arg(method)), QStringLiteral("x"));
            run.scheduler->Start();
            QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
            QCOMPARE(run.tasks.task(2).savedPath, file);
            QCOMPARE(run.tasks.task(1).savedPath, QString());
            run.tasks.RequeueTask(1);
            QCOMPARE(read(file), pdf_);
        }
    }

    // "跳过" was checked with the row's type; the server's type then led to deleting
    // the user's file under the new name.
    void skipIsCheckedAgainstTheServersType() {
        Run run;
        write(run.folder() + QStringLiteral("doc.html"), "the user's page");
        run.add(url(QStringLiteral("/page.html")), QStringLiteral("doc"));
        run.begin(1, DuplicateNamePolicies::Skip);
        QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
        const DownloadTask& t = run.tasks.task(1);
        QCOMPARE(t.type, QStringLiteral("html"));
        QCOMPARE(t.percent, QStringLiteral("已存在，跳过"));
        QCOMPARE(read(run.folder() + QStringLiteral("doc.html")), QByteArray("the user's page"));
        QCOMPARE(files(run.folder()), QStringList{QStringLiteral("doc.html")});
    }

    // A folder message was shown from inside the tick: its modal loop froze the queue
    // there, and the tick went on afterwards with what it knew before the box.
    void aMessageNeverRunsInsideTheTick() {
        class ModalPrompter : public ScriptedPrompter {
        public:
            std::function<void()> onShow;
            void message(const QString& text, Icon icon, const QString& title) override {
                ScriptedPrompter::message(text, icon, title);
                if (onShow)
                    onShow();
                QEventLoop modal; // what a message box does
                QTimer::singleShot(300, &modal, &QEventLoop::quit);
                modal.exec();
            }
        };
        ModalPrompter prompter;
        Run run;
        run.add(url(QStringLiteral("/slow0.pdf")), QStringLiteral("a"),
                run.folder() + QStringLiteral("<>/"));
        run.add(url(QStringLiteral("/slow1.pdf")), QStringLiteral("b"));
        TaskState otherRow = TaskState::Waiting;
        prompter.onShow = [&] { otherRow = run.tasks.task(2).state; };
        run.begin(2, DuplicateNamePolicies::Rename, &prompter);
        QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
        QCOMPARE(prompter.messages(),
                 QStringList{QStringLiteral("文件夹名称有误！不能创建文件夹！")});
        QVERIFY(otherRow != TaskState::Waiting); // the queue went on while the box was open
        QCOMPARE(served(QStringLiteral("/slow0.pdf")), 1);
        QCOMPARE(served(QStringLiteral("/slow1.pdf")), 1);
        QCOMPARE(files(run.folder()),
                 (QStringList{QStringLiteral("a.pdf"), QStringLiteral("b.pdf")}));
    }

    // Switching from the parallel method to the one-at-a-time method during a run
    // left the busy flag set and the run hanging until Stop.
    void switchingTheMethodDuringARunKeepsItGoing() {
        Run run;
        for (int i = 0; i < 4; ++i)
            run.add(url(QStringLiteral("/slow%1.pdf").arg(i)), QStringLiteral("s%1").arg(i));
        run.begin(2, DuplicateNamePolicies::Rename);
        QTRY_VERIFY_WITH_TIMEOUT(run.tasks.Summarize().perState[2] > 0, 10000);
        run.options.DownloadMethod = 1;
        QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
        for (int row = 1; row <= 4; ++row)
            QCOMPARE(run.tasks.task(row).state, TaskState::Done);
    }

    // Rows moved while downloads still ran (the problem rule had switched the tick
    // off) got the progress and outcome of other rows.
    void rowsThatMoveKeepTheirOwnProgress() {
        Run run;
        for (int i = 0; i < 3; ++i)
            run.add(url(QStringLiteral("/slow%1.pdf").arg(i)), QStringLiteral("m%1").arg(i));
        run.begin(2, DuplicateNamePolicies::Rename);
        run.scheduler->settings.threads = 3;
        QTRY_VERIFY_WITH_TIMEOUT(run.tasks.Summarize().perState[2] == 3, 10000);
        run.scheduler->tickTimer().stop();
        QVERIFY(run.scheduler->activity.IsDownloadRunning());
        run.tasks.reorder({2, 0, 1});
        QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
        for (int row = 1; row <= 3; ++row) {
            const DownloadTask& t = run.tasks.task(row);
            const int i = t.name.mid(1).toInt();
            const QByteArray body = pdf_.left(40000 + 10000 * i) + "%%EOF\n";
            QCOMPARE(t.size, QString::number(body.size()));
            QCOMPARE(read(t.filePath()), body);
        }
    }

    // "代理服务器" switched off meant no proxy at all instead of the system's settings.
    void noProxyOfOurOwnMeansTheSystemsProxy() {
        FixtureServer proxy;
        QVERIFY(proxy.start());
        proxy.route(QStringLiteral("/via.pdf"), [](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.body = "%PDF-1.4 through the proxy\n%%EOF\n";
            return r;
        });
        route(QStringLiteral("/via.pdf"), [](auto& r) { r.body = "%PDF-1.4 direct\n%%EOF\n"; });
        const QByteArray saved = qgetenv("http_proxy");
        qputenv("http_proxy", QStringLiteral("http://127.0.0.1:%1").arg(proxy.port()).toLatin1());
        Run run;
        run.add(url(QStringLiteral("/via.pdf")), QStringLiteral("via"));
        run.options.ProxyEnabled = 0;
        run.begin(1, DuplicateNamePolicies::Rename);
        QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
        qputenv("http_proxy", saved);
        QCOMPARE(read(run.folder() + QStringLiteral("via.pdf")),
                 QByteArray("%PDF-1.4 through the proxy\n%%EOF\n"));
        QVERIFY(proxy.requests.value(0).target.startsWith("http://127.0.0.1:"));
    }

    // Status panel 3 always ended with the success text, hiding the error.
    void theErrorStaysInTheStatusPanel() {
        Run run;
        QStringList panel3;
        run.add(url(QStringLiteral("/404.pdf?panel")), QStringLiteral("gone"));
        run.options.DownloadMethod = 1;
        run.scheduler =
            std::make_unique<DownloadScheduler>(run.tasks, run.options, run.session, run.prompter);
        run.scheduler->hooks.panel3 = [&panel3](const QString& text) { panel3 << text; };
        run.scheduler->Start();
        run.scheduler->startSupervisor();
        QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
        QVERIFY2(panel3.last().startsWith(QStringLiteral("11 与主机通讯时出现了错误:404:")),
                 qPrintable(panel3.join(u'|')));
        QVERIFY(run.tasks.task(1).error.contains(QStringLiteral("404")));
    }

    // A name that cleans to nothing gave a hidden ".pdf".
    void aNameThatCleansToNothingFallsBackToTheAddress() {
        for (int method : {1, 2}) {
            Run run;
            run.add(url(QStringLiteral("/docs/paper.pdf?id=%1").arg(method)),
                    QStringLiteral("???"));
            run.add(url(QStringLiteral("/?id=%1").arg(method)), QStringLiteral(" .. "));
            run.begin(method, DuplicateNamePolicies::Rename);
            QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
            QCOMPARE(run.tasks.task(1).name, QStringLiteral("paper"));
            QCOMPARE(run.tasks.task(2).name, QStringLiteral("download"));
            QCOMPARE(files(run.folder()),
                     (QStringList{QStringLiteral("download.pdf"), QStringLiteral("paper.pdf")}));
        }
    }

    // A compressed answer's small announced length let a big file past the limit.
    void compressedBodiesObeyTheSizeLimit() {
        for (int method : {1, 2}) {
            Run run;
            run.options.MaxFileSizeMB = 0.1;
            run.add(url(QStringLiteral("/gzip.pdf?%1").arg(method)), QStringLiteral("packed"));
            run.begin(method, DuplicateNamePolicies::Rename);
            QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
            QCOMPARE(run.tasks.task(1).percent, QStringLiteral("大文件，跳过"));
            QCOMPARE(files(run.folder()), QStringList());
        }
    }

    // A task address naming a local file (or a script, or data) was copied like a download.
    void onlyWebAddressesAreDownloaded() {
        QTemporaryDir elsewhere;
        const QString secret = elsewhere.filePath(QStringLiteral("secret.pdf"));
        write(secret, pdf_);
        for (int method : {1, 2}) {
            Run run;
            const QStringList refused = {QUrl::fromLocalFile(secret).toString(),
                                         QStringLiteral("data:application/pdf,%25PDF-1.4"),
                                         QStringLiteral("javascript:alert(1)"),
                                         QStringLiteral("ftp://127.0.0.1/x.pdf")};
            for (const QString& address : refused)
                run.add(address, QStringLiteral("copy"));
            run.add(url(QStringLiteral("/docs/paper.pdf?web=%1").arg(method)),
                    QStringLiteral("web"));
            run.begin(method, DuplicateNamePolicies::Rename);
            QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
            for (int row = 1; row <= refused.size(); ++row) {
                const DownloadTask& t = run.tasks.task(row);
                QCOMPARE(t.state, TaskState::Failed);
                QCOMPARE(t.percent, QStringLiteral("不支持的网址"));
                QVERIFY(t.error.contains(QStringLiteral("http")));
            }
            QCOMPARE(run.tasks.task(refused.size() + 1).state, TaskState::Done);
            QCOMPARE(files(run.folder()), QStringList{QStringLiteral("web.pdf")});
        }

        // The transfer itself refuses them too, whoever starts it.
        QNetworkAccessManager nam;
        TransferControl control;
        TransferTicket ticket;
        ticket.job.url = QUrl::fromLocalFile(secret);
        ticket.job.target = elsewhere.filePath(QStringLiteral("copy.pdf"));
        ticket.job.partPath = ticket.job.target + QStringLiteral(".part");
        const TransferOutcome outcome = QCoro::waitFor(RunTransfer(nam, ticket, control));
        QCOMPARE(outcome.result, TransferResult::NoResponse);
        QVERIFY(!outcome.errorText.isEmpty());
        QCOMPARE(files(elsewhere.path()), QStringList{QStringLiteral("secret.pdf")});
    }
};

QM_TEST_GUILESS_MAIN(TestDownloadFaults)
#include "tst_download_faults.moc"
