#include "download/download_session.h"
#include "download/scheduler.h"
#include "download/task_list.h"
#include "fixture_server.h"
#include "scripted_prompter.h"
#include "settings/settings_keys.h"
#include "settings/shared_options.h"
#include "test_main.h"
#include "tools/time_limits.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTemporaryDir>

// Both download methods against every fault the fixture server can stage.
class TestDownloadEngine : public QObject {
    Q_OBJECT

    FixtureServer server_;
    QByteArray pdf_;
    int serial_ = 0;

    struct Run {
        QTemporaryDir dir;
        TaskListModel tasks;
        SharedOptions options;
        ScriptedPrompter prompter;
        DownloadSession session{nullptr};
        std::unique_ptr<DownloadScheduler> scheduler;
        QString folder() const { return dir.path() + u'/'; }
    };

    std::unique_ptr<Run> start(int method, const QStringList& paths, int threads = 3,
                               const QString& policy = DuplicateNamePolicies::Rename,
                               double maxMb = 10) {
        auto run = std::make_unique<Run>();
        run->options.DownloadMethod = qint16(method);
        run->options.MaxFileSizeMB = maxMb;
        for (const QString& path : paths)
            run->tasks.appendTask(server_.url(path), QStringLiteral("file%1").arg(++serial_),
                                  QStringLiteral("pdf"), run->folder());
        run->scheduler = std::make_unique<DownloadScheduler>(run->tasks, run->options, run->session,
                                                             run->prompter);
        run->scheduler->settings.threads = threads;
        run->scheduler->settings.policy = policy;
        run->scheduler->startSupervisor();
        run->scheduler->Start();
        return run;
    }

    static bool finished(const Run& run) {
        return run.tasks.检测是否下载列表完毕() && !run.scheduler->activity.busy;
    }

    static QByteArray read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    static QStringList filesIn(const QString& folder) {
        QStringList files;
        QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << QDir(folder).relativeFilePath(it.next());
        files.sort();
        return files;
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
        TimeLimits::SetScale(0.01); // ticks 10 ms, headers 300 ms, stall 3 s
        pdf_ = "%PDF-1.4\n";
        for (int i = 0; pdf_.size() < 200000; ++i)
            pdf_ += QByteArray::number(i) +
                    " 0 obj << /Length 44 >> stream BT /F1 12 Tf ET endstream endobj\n";
        QVERIFY(server_.start());
        route(QStringLiteral("/ok.pdf"), [](auto&) {});
        route(QStringLiteral("/nolength.pdf"), [](auto& r) { r.sendLength = false; });
        route(QStringLiteral("/short.pdf"), [](auto& r) {
            r.announcedLength = r.body.size();
            r.cutAfter = 50000;
        });
        route(QStringLiteral("/reset.pdf"), [](auto& r) {
            r.cutAfter = 60000;
            r.resetAtCut = true;
        });
        route(QStringLiteral("/stall.pdf"), [](auto& r) { r.stallAfter = 1000; });
        route(QStringLiteral("/drip.pdf"), [](auto& r) {
            r.body = r.body.left(20000);
            r.dripBytes = 2000;
            r.dripDelayMs = 30;
        });
        route(QStringLiteral("/404.pdf"), [](auto& r) {
            r.status = 404;
            r.contentType = "text/html";
            r.body = "<html><head><title>404</title></head><body>gone</body></html>";
        });
        route(QStringLiteral("/500.pdf"), [](auto& r) {
            r.status = 500;
            r.contentType = "text/html";
            r.body = "<html><head><title>500</title></head><body>oops</body></html>";
        });
        route(QStringLiteral("/login.pdf"), [](auto& r) {
            r.contentType = "text/html; charset=utf-8";
            r.body = "<html><head><title>Sign in</title></head><body><form></form></body></html>";
        });
        route(QStringLiteral("/gzip.pdf"), [](auto& r) { r.gzip = true; });
        route(QStringLiteral("/chunked.pdf"), [](auto& r) { r.chunked = true; });
        route(QStringLiteral("/big.pdf"), [](auto&) {});
        server_.redirect(QStringLiteral("/hop1.pdf"), QStringLiteral("/hop2.pdf"));
        server_.redirect(QStringLiteral("/hop2.pdf"), QStringLiteral("/hop3.pdf"), 301);
        server_.redirect(QStringLiteral("/hop3.pdf"), QStringLiteral("/ok.pdf"), 307);
        server_.redirect(QStringLiteral("/loopA.pdf"), QStringLiteral("/loopB.pdf"));
        server_.redirect(QStringLiteral("/loopB.pdf"), QStringLiteral("/loopA.pdf"));
    }

    void faultMatrix_data() {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("percent");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("complete"); // the file on disk equals the served bytes
        for (int m : {1, 2}) {
            const QByteArray tag = "method " + QByteArray::number(m) + ", ";
            QTest::newRow(tag + "ok") << m << "/ok.pdf" << 3 << "100%"
                                      << "pdf" << true;
            QTest::newRow(tag + "no length") << m << "/nolength.pdf" << 3 << "100%"
                                             << "pdf" << true;
            QTest::newRow(tag + "short then close") << m << "/short.pdf" << 4 << ""
                                                    << "pdf" << false;
            QTest::newRow(tag + "reset mid-body") << m << "/reset.pdf" << 4 << ""
                                                  << "pdf" << false;
            QTest::newRow(tag + "stall") << m << "/stall.pdf" << 4 << ""
                                         << "pdf" << false;
            QTest::newRow(tag + "slow drip") << m << "/drip.pdf" << 3 << "100%"
                                             << "pdf" << true;
            QTest::newRow(tag + "404") << m << "/404.pdf" << 4 << ""
                                       << "pdf" << false;
            QTest::newRow(tag + "500") << m << "/500.pdf" << 4 << ""
                                       << "pdf" << false;
            QTest::newRow(tag + "redirect chain") << m << "/hop1.pdf" << 3 << "100%"
                                                  << "pdf" << true;
            QTest::newRow(tag + "redirect loop") << m << "/loopA.pdf" << 4 << ""
                                                 << "pdf" << false;
            QTest::newRow(tag + "html instead of pdf") << m << "/login.pdf" << 3 << "100%"
                                                       << "htm" << true;
            QTest::newRow(tag + "gzip") << m << "/gzip.pdf" << 3 << "100%"
                                        << "pdf" << true;
            QTest::newRow(tag + "chunked") << m << "/chunked.pdf" << 3 << "100%"
                                           << "pdf" << true;
        }
    }
    void faultMatrix() {
        QFETCH(int, method);
        QFETCH(QString, path);
        QFETCH(int, state);
        QFETCH(QString, percent);
        QFETCH(QString, type);
        QFETCH(bool, complete);
        auto run = start(method, {path});
        QTRY_VERIFY_WITH_TIMEOUT(finished(*run), 20000);
        const DownloadTask& t = run->tasks.task(1);
        if (int(t.state) != state)
            qWarning() << "error:" << t.error << t.percent
                       << server_.log.mid(server_.log.size() - 5);
        QCOMPARE(int(t.state), state);
        QCOMPARE(t.type, type);
        if (!percent.isEmpty())
            QCOMPARE(t.percent, percent);
        if (state == 4)
            QVERIFY2(t.percent != u"100%", qPrintable(t.percent));
        const QByteArray served =
            path.contains(u"login")
                ? QByteArray(
                      "<html><head><title>Sign in</title></head><body><form></form></body></html>")
            : path.contains(u"drip") ? pdf_.left(20000)
                                     : pdf_;
        if (complete) {
            QCOMPARE(read(t.filePath()), served);
            QCOMPARE(t.size, QString::number(served.size()));
            QCOMPARE(t.received, QString::number(served.size()));
        }
        if (state == 3)
            QVERIFY(complete);
        // Nothing but the task's own files, and no leftovers of an unfinished download.
        for (const QString& f : filesIn(run->folder())) {
            QVERIFY2(f.startsWith(t.name), qPrintable(f));
            QVERIFY2(!f.endsWith(QStringLiteral(".part")), qPrintable(f));
        }
        if (state == 4 && method == 2)
            QVERIFY(!QFile::exists(t.filePath()) || read(t.filePath()).size() > 2);
    }

    void sizeLimitSkipsBigFiles() {
        for (int method : {1, 2}) {
            auto run =
                start(method, {QStringLiteral("/big.pdf")}, 3, DuplicateNamePolicies::Rename, 0.1);
            QTRY_VERIFY_WITH_TIMEOUT(finished(*run), 20000);
            QCOMPARE(run->tasks.task(1).state, TaskState::Done);
            QCOMPARE(run->tasks.task(1).percent, QStringLiteral("大文件，跳过"));
            if (method == 1)
                QVERIFY(filesIn(run->folder()).isEmpty());
        }
        // Exactly the limit is downloaded.
        auto run = start(1, {QStringLiteral("/ok.pdf")}, 3, DuplicateNamePolicies::Rename,
                         pdf_.size() / 1024.0 / 1024.0);
        QTRY_VERIFY_WITH_TIMEOUT(finished(*run), 20000);
        QCOMPARE(run->tasks.task(1).percent, QStringLiteral("100%"));
    }

    void sameNameRules() {
        auto run = start(2, {QStringLiteral("/ok.pdf"), QStringLiteral("/ok.pdf?again")}, 1);
        QTRY_VERIFY_WITH_TIMEOUT(finished(*run), 20000);
        // Skip: an existing target makes the row done without a transfer.
        TaskListModel& tasks = run->tasks;
        const int served = int(server_.log.size());
        tasks.appendTask(server_.url(QStringLiteral("/ok.pdf?third")), tasks.task(1).name,
                         QStringLiteral("pdf"), run->folder());
        run->scheduler->settings.policy = DuplicateNamePolicies::Skip;
        run->scheduler->Start();
        QTRY_VERIFY_WITH_TIMEOUT(finished(*run), 20000);
        QCOMPARE(tasks.task(3).percent, QStringLiteral("已存在，跳过"));
        QCOMPARE(tasks.task(3).size, QString::number(pdf_.size()));
        QCOMPARE(int(server_.log.size()), served);
        // Rename numbers the second file with the same name.
        tasks.appendTask(server_.url(QStringLiteral("/ok.pdf?fourth")), tasks.task(1).name,
                         QStringLiteral("pdf"), run->folder());
        run->scheduler->settings.policy = DuplicateNamePolicies::Rename;
        run->scheduler->Start();
        QTRY_VERIFY_WITH_TIMEOUT(finished(*run), 20000);
        QCOMPARE(tasks.task(4).name, tasks.task(1).name + QStringLiteral("[001]"));
        QCOMPARE(read(tasks.task(4).filePath()), pdf_);
    }

    void threeDownloadsRunAtOnceAndStopFailsThem() {
        for (int i = 0; i < 5; ++i)
            route(QStringLiteral("/slow%1.pdf").arg(i), [](auto& r) {
                r.dripBytes = 4000;
                r.dripDelayMs = 50;
            });
        QStringList paths;
        for (int i = 0; i < 5; ++i)
            paths << QStringLiteral("/slow%1.pdf").arg(i);
        auto run = start(2, paths, 3);
        QTRY_COMPARE_WITH_TIMEOUT(run->tasks.Summarize().perState[2], 3, 5000);
        QCOMPARE(run->scheduler->activity.CountLoadedDownloaders(), 4);
        QVERIFY(run->scheduler->activity.IsDownloadRunning());
        QTRY_VERIFY(run->tasks.task(1).received.toLongLong() > 0);
        run->scheduler->Stop();
        QCOMPARE(run->tasks.Summarize().perState[2], 0);
        QCOMPARE(run->tasks.task(1).state, TaskState::Failed);
        QCOMPARE(run->tasks.task(4).state, TaskState::Waiting);
        QVERIFY(!run->scheduler->activity.IsDownloadRunning());
        const QString percent = run->tasks.task(1).percent;
        QTest::qWait(400);
        // A stopped downloader says nothing more.
        QCOMPARE(run->tasks.task(1).state, TaskState::Failed);
        QCOMPARE(run->tasks.task(1).percent, percent);
        for (const QString& f : filesIn(run->folder()))
            QVERIFY2(!f.endsWith(QStringLiteral(".part")), qPrintable(f));
    }

    void stoppingATransferCancelsIt() {
        route(QStringLiteral("/slowone.pdf"), [](auto& r) {
            r.dripBytes = 4000;
            r.dripDelayMs = 50;
        });
        auto run = start(1, {QStringLiteral("/slowone.pdf")});
        QTRY_VERIFY(run->tasks.task(1).received.toLongLong() > 0);
        QVERIFY(run->scheduler->activity.transferExecuting);
        run->scheduler->Stop();
        QTRY_COMPARE(run->tasks.task(1).percent, QStringLiteral("下载取消"));
        QCOMPARE(run->tasks.task(1).state, TaskState::Failed);
        QTRY_VERIFY(!QFile::exists(run->tasks.task(1).filePath()));
    }

    void certificateErrorsFailTheTask() {
        // A server with a self-signed certificate: the download must not trust it.
        QTemporaryDir keys;
        const QString cert = keys.filePath(QStringLiteral("cert.pem"));
        const QString key = keys.filePath(QStringLiteral("key.pem"));
        QCOMPARE(QProcess::execute(
                     QStringLiteral("openssl"),
                     {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                      QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                      QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                      QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert}),
                 0);
        QFile certFile(cert);
        QFile keyFile(key);
        QVERIFY(certFile.open(QIODevice::ReadOnly) && keyFile.open(QIODevice::ReadOnly));
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(QSslCertificate(certFile.readAll()));
        config.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Rsa));
        QSslServer tls;
        tls.setSslConfiguration(config);
        int requests = 0;
        connect(&tls, &QTcpServer::pendingConnectionAvailable, this, [&] {
            while (QTcpSocket* socket = tls.nextPendingConnection()) {
                connect(socket, &QIODevice::readyRead, socket, [&requests, socket] {
                    ++requests;
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 9\r\nConnection: "
                                  "close\r\n\r\n%PDF-1.4\n");
                    socket->disconnectFromHost();
                });
            }
        });
        QVERIFY(tls.listen(QHostAddress::LocalHost));
        const QString url = QStringLiteral("https://127.0.0.1:%1/secret.pdf").arg(tls.serverPort());
        for (int method : {1, 2}) {
            Run run;
            run.options.DownloadMethod = qint16(method);
            run.tasks.appendTask(url, QStringLiteral("secret"), QStringLiteral("pdf"),
                                 run.folder());
            run.scheduler = std::make_unique<DownloadScheduler>(run.tasks, run.options, run.session,
                                                                run.prompter);
            run.scheduler->startSupervisor();
            run.scheduler->Start();
            QTRY_VERIFY_WITH_TIMEOUT(finished(run), 20000);
            QCOMPARE(run.tasks.task(1).state, TaskState::Failed);
            QVERIFY(filesIn(run.folder()).isEmpty());
        }
        QCOMPARE(requests, 0);
    }

    void soundsAndAutomaticRules() {
        // Sounds: a web page 101, a failure 103, the end of the run 102.
        QList<int> sounds;
        auto run = start(2, {QStringLiteral("/login.pdf"), QStringLiteral("/404.pdf")}, 1);
        run->scheduler->settings.sound = true;
        run->scheduler->hooks.playSound = [&sounds](int n) { sounds << n; };
        QSignalSpy ended(run->scheduler.get(), &DownloadScheduler::runEnded);
        QVERIFY(ended.wait(20000));
        QVERIFY(sounds.contains(101));
        QVERIFY(sounds.contains(103));
        QCOMPARE(sounds.last(), 102);

        // Automatic re-download retries failed tasks while the run is off.
        run->scheduler->settings.autoRequeue = true;
        run->scheduler->settings.autoRequeueKind = 0;
        const int served = int(server_.log.count(QStringLiteral("GET /404.pdf")));
        QTRY_VERIFY_WITH_TIMEOUT(server_.log.count(QStringLiteral("GET /404.pdf")) > served + 1,
                                 10000);
        // Stop after five problem tasks, and Stop clears the automatic options.
        for (int i = 0; i < 4; ++i)
            run->tasks.appendTask(server_.url(QStringLiteral("/404.pdf?%1").arg(i)),
                                  QStringLiteral("p%1").arg(i), QStringLiteral("pdf"),
                                  run->folder());
        run->scheduler->settings.stopAfterProblems = true;
        QTRY_VERIFY_WITH_TIMEOUT(run->tasks.CountProblemTasks() >= 5, 10000);
        bool cleared = false;
        run->scheduler->hooks.autoOptionsCleared = [&cleared] { cleared = true; };
        run->scheduler->Stop();
        QVERIFY(cleared);
        QVERIFY(!run->scheduler->settings.autoRequeue);
        QVERIFY(!run->scheduler->running());

        // Automatic start picks up new waiting tasks (with the problem rule off again).
        run->scheduler->settings.stopAfterProblems = false;
        run->scheduler->settings.autoStart = true;
        run->tasks.appendTask(server_.url(QStringLiteral("/ok.pdf?auto")), QStringLiteral("auto"),
                              QStringLiteral("pdf"), run->folder());
        QTRY_COMPARE_WITH_TIMEOUT(run->tasks.task(run->tasks.count()).state, TaskState::Done,
                                  10000);
    }

    void theIntervalSpacesDownloads() {
        auto run = start(1, {QStringLiteral("/ok.pdf?i1"), QStringLiteral("/ok.pdf?i2")});
        run->scheduler->settings.intervalSeconds = 1;
        QTRY_COMPARE_WITH_TIMEOUT(run->tasks.task(1).state, TaskState::Done, 10000);
        QElapsedTimer clock;
        clock.start();
        QTRY_COMPARE_WITH_TIMEOUT(run->tasks.task(2).state, TaskState::Done, 10000);
        QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
    }

    void theSupervisorEndsTheRun() {
        auto run = start(2, {QStringLiteral("/ok.pdf?end")});
        QSignalSpy ended(run->scheduler.get(), &DownloadScheduler::runEnded);
        QVERIFY(ended.wait(20000));
        QVERIFY(!run->scheduler->running());
        // An empty list switches the tick off at once.
        TaskListModel empty;
        SharedOptions options;
        ScriptedPrompter prompter;
        DownloadSession session(nullptr);
        DownloadScheduler idle(empty, options, session, prompter);
        idle.Start();
        idle.tick();
        QVERIFY(!idle.running());
    }
};

QM_TEST_GUILESS_MAIN(TestDownloadEngine)
#include "tst_download_engine.moc"
