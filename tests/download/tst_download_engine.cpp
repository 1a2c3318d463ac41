#include "download/download_session.h"
#include "download/part_file.h"
#include "download/save_target.h"
#include "download/scheduler.h"
#include "download/task_list.h"
#include "fixture_server.h"
#include "scripted_prompter.h"
#include "settings/settings_keys.h"
#include "settings/shared_options.h"
#include "test_main.h"
#include "tools/time_limits.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
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
        return run.tasks.检测是否下载列表完毕() && run.scheduler->transfersInFlight() == 0 &&
               !run.scheduler->activity.busy;
    }

    // A run with named tasks; starts at once.
    std::unique_ptr<Run> startNamed(int method, const QList<QPair<QString, QString>>& pathsAndNames,
                                    const QString& policy, int threads = 2) {
        auto run = std::make_unique<Run>();
        run->options.DownloadMethod = qint16(method);
        for (const auto& [path, name] : pathsAndNames)
            run->tasks.appendTask(server_.url(path), name, QStringLiteral("pdf"), run->folder());
        run->scheduler = std::make_unique<DownloadScheduler>(run->tasks, run->options, run->session,
                                                             run->prompter);
        run->scheduler->settings.threads = threads;
        run->scheduler->settings.policy = policy;
        run->scheduler->startSupervisor();
        run->scheduler->Start();
        return run;
    }

    // The part file a download of url to target keeps, without its folder.
    QString partName(const QString& target, const QString& path) const {
        return QFileInfo(PartPathFor(target, server_.url(path))).fileName();
    }

    // The folder holds exactly these files: finished ones byte for byte, part files
    // as a prefix of what was served, their resume records present.
    static void checkFolder(const QString& folder, const QMap<QString, QByteArray>& expected) {
        const QStringList actual = filesIn(folder);
        QCOMPARE(actual, QStringList(expected.keys()));
        for (auto it = expected.begin(); it != expected.end(); ++it) {
            const QByteArray bytes = read(folder + it.key());
            if (it.key().endsWith(QStringLiteral(".part"))) {
                QVERIFY2(!bytes.isEmpty() && it.value().startsWith(bytes), qPrintable(it.key()));
            } else if (!it.key().endsWith(QStringLiteral(".meta"))) {
                QCOMPARE(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex(),
                         QCryptographicHash::hash(it.value(), QCryptographicHash::Sha256).toHex());
            }
        }
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
        pdf_ += "%%EOF\n";
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
            r.etag = "\"reset\"";
        });
        route(QStringLiteral("/stall.pdf"), [](auto& r) {
            r.stallAfter = 1000;
            r.lastModified = "Wed, 21 Oct 2015 07:28:00 GMT";
        });
        route(QStringLiteral("/cut.pdf"), [](auto& r) {
            r.cutAfter = 50000;
            r.etag = "\"cut\"";
        });
        route(QStringLiteral("/twinCut.pdf"), [](auto& r) { // fails, but only after a while
            r.dripBytes = 20000;
            r.dripDelayMs = 20;
            r.cutAfter = 60000;
        });
        for (const char* twin : {"/twinA.pdf", "/twinB.pdf"})
            route(QString::fromLatin1(twin), [twin](auto& r) {
                r.body = QByteArray(twin) + r.body; // different bytes, same name
                r.dripBytes = 20000;
                r.dripDelayMs = 20;
            });
        route(QStringLiteral("/drip.pdf"), [](auto& r) {
            r.body = r.body.left(20000) + "%%EOF\n";
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
        server_.redirect(QStringLiteral("/local.pdf"), QStringLiteral("file:///etc/hostname"));
        route(QStringLiteral("/endless.pdf"), [](auto& r) { // more than it may be, unannounced
            r.chunked = true;
            r.body = r.body.repeated(8);
        });
        server_.redirect(QStringLiteral("/loopA.pdf"), QStringLiteral("/loopB.pdf"));
        server_.redirect(QStringLiteral("/loopB.pdf"), QStringLiteral("/loopA.pdf"));
    }

    void faultMatrix_data() {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("state");
        // The percent cell, as a pattern: how far a failed download got, or nothing.
        QTest::addColumn<QString>("percent");
        QTest::addColumn<QString>("type");
        // What stays: "file" the served file, "part" a resumable part, "part?" a part
        // when any bytes arrived, "" nothing.
        QTest::addColumn<QString>("left");
        const QString done = QStringLiteral("100%");
        const QString none;
        const QString incomplete = QStringLiteral("PDF不完整");
        for (int m : {1, 2}) {
            const QByteArray tag = "method " + QByteArray::number(m) + ", ";
            const auto row = [&](const char* name, const char* path, int state,
                                 const QString& percent, const char* type, const char* left) {
                QTest::newRow(tag + name) << m << path << state << percent << type << left;
            };
            row("ok", "/ok.pdf", 3, done, "pdf", "file");
            row("no length", "/nolength.pdf", 3, done, "pdf", "file");
            // A cut PDF is kept even without a validator: resumed when its size holds.
            row("short then close", "/short.pdf", 4, incomplete, "pdf", "part");
            row("short, resumable", "/cut.pdf", 4, incomplete, "pdf", "part");
            // A reset may lose whatever was still on its way, the headers included.
            row("reset mid-body", "/reset.pdf", 4, QStringLiteral("\\d+%|"), "pdf", "part?");
            row("stall", "/stall.pdf", 4, QStringLiteral("0%"), "pdf", "part");
            row("slow drip", "/drip.pdf", 3, done, "pdf", "file");
            row("404", "/404.pdf", 4, none, "pdf", "");
            row("500", "/500.pdf", 4, none, "pdf", "");
            row("redirect chain", "/hop1.pdf", 3, done, "pdf", "file");
            row("redirect loop", "/loopA.pdf", 4, none, "pdf", "");
            row("redirect to a local file", "/local.pdf", 4, none, "pdf", "");
            row("html instead of pdf", "/login.pdf", 3, done, "htm", "file");
            row("gzip", "/gzip.pdf", 3, done, "pdf", "file");
            row("chunked", "/chunked.pdf", 3, done, "pdf", "file");
        }
    }
    void faultMatrix() {
        QFETCH(int, method);
        QFETCH(QString, path);
        QFETCH(int, state);
        QFETCH(QString, percent);
        QFETCH(QString, type);
        QFETCH(QString, left);
        // Fifty hops over fresh connections can take most of 300 ms on a busy
        // machine: the loop gets room to reach the hop limit before the header wait.
        const double scale = TimeLimits::Scale();
        const auto restore = qScopeGuard([scale] { TimeLimits::SetScale(scale); });
        if (path.contains(u"loop"))
            TimeLimits::SetScale(0.1);
        auto run = start(method, {path});
        QTRY_VERIFY_WITH_TIMEOUT(finished(*run), 20000);
        const DownloadTask& t = run->tasks.task(1);
        QCOMPARE(int(t.state), state);
        QCOMPARE(t.type, type);
        const QRegularExpression percentPattern(QRegularExpression::anchoredPattern(
            percent.contains(u'\\') ? percent : QRegularExpression::escape(percent)));
        QVERIFY2(percentPattern.match(t.percent).hasMatch(), qPrintable(t.percent));
        const QByteArray served =
            path.contains(u"login")
                ? QByteArray(
                      "<html><head><title>Sign in</title></head><body><form></form></body></html>")
            : path.contains(u"drip") ? pdf_.left(20000) + "%%EOF\n"
                                     : pdf_;
        if (state == 3) {
            QCOMPARE(t.result, TaskResult::Saved);
            QCOMPARE(t.size, QString::number(served.size()));
            QCOMPARE(t.received, QString::number(served.size()));
            QCOMPARE(t.savedPath, t.filePath());
        } else {
            QCOMPARE(t.result, TaskResult::Failed);
            QVERIFY(!t.error.isEmpty());
            QVERIFY(t.savedPath.isEmpty());
            if (path.contains(u"loop"))
                QCOMPARE(t.error, QStringLiteral("重定向次数过多"));
            if (t.percent.isEmpty()) {
                QVERIFY(t.size.isEmpty() && t.received.isEmpty());
            } else if (t.percent == u"PDF不完整") {
                // Kept for resuming: the part holds every byte that came.
                QVERIFY(t.received.toLongLong() < served.size());
                QCOMPARE(QString::number(QFileInfo(t.partPath).size()), t.received);
            } else {
                // How far it got: the bytes kept, out of the whole file's length.
                QCOMPARE(t.size, QString::number(served.size()));
                QCOMPARE(t.percent,
                         QString::number(t.received.toLongLong() * 100 / served.size()) + u'%');
                if (!t.partPath.isEmpty())
                    QCOMPARE(QString::number(QFileInfo(t.partPath).size()), t.received);
            }
        }
        // Exactly what a user expects in the folder: the file, or at most the
        // resumable part of a failed one; never anything under the real name.
        QMap<QString, QByteArray> expected;
        if (left == u"file") {
            expected.insert(QFileInfo(t.filePath()).fileName(), served);
        } else if (left == u"part" || (left == u"part?" && !t.partPath.isEmpty())) {
            const QString partFile =
                partName(run->folder() + t.name + QStringLiteral(".pdf"), path);
            expected.insert(partFile, served);
            expected.insert(partFile + QStringLiteral(".meta"), {});
            QCOMPARE(t.partPath, run->folder() + partFile);
        }
        checkFolder(run->folder(), expected);
    }

    void anExistingFileSurvivesAFailedDownload_data() {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("policy");
        for (int m : {1, 2}) {
            for (const QString& policy :
                 {DuplicateNamePolicies::Skip, DuplicateNamePolicies::Overwrite,
                  DuplicateNamePolicies::Rename})
                QTest::addRow("method %d, %s", m, qPrintable(policy)) << m << policy;
        }
    }
    void anExistingFileSurvivesAFailedDownload() {
        QFETCH(int, method);
        QFETCH(QString, policy);
        const QString path = QStringLiteral("/cutfirst%1%2.pdf").arg(method).arg(policy);
        auto cut = std::make_shared<bool>(true);
        server_.route(path, [this, cut](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.body = pdf_;
            r.etag = "\"one\"";
            if (*cut)
                r.cutAfter = 70000;
            return r;
        });
        auto run = std::make_unique<Run>();
        const QByteArray mine = "the user's own copy";
        {
            QFile f(run->folder() + QStringLiteral("same.pdf"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(mine);
        }
        run->options.DownloadMethod = qint16(method);
        run->tasks.appendTask(server_.url(path), QStringLiteral("same"), QStringLiteral("pdf"),
                              run->folder());
        run->scheduler = std::make_unique<DownloadScheduler>(run->tasks, run->options, run->session,
                                                             run->prompter);
        run->scheduler->settings.policy = policy;
        run->scheduler->startSupervisor();
        run->scheduler->Start();
        QTRY_VERIFY_WITH_TIMEOUT(finished(*run), 20000);
        const DownloadTask& t = run->tasks.task(1);
        if (policy == DuplicateNamePolicies::Skip) {
            QCOMPARE(t.percent, QStringLiteral("已存在，跳过"));
            QCOMPARE(t.result, TaskResult::SkippedExisting);
            QVERIFY(!server_.log.contains(QStringLiteral("GET ") + path));
            checkFolder(run->folder(), {{QStringLiteral("same.pdf"), mine}});
            return;
        }
        QCOMPARE(t.state, TaskState::Failed);
        // The part is named from the name planned when the transfer started: the
        // parallel method numbers before, the one-at-a-time method after the headers.
        const bool numberedFirst = policy == DuplicateNamePolicies::Rename && method == 2;
        const QString part =
            partName(run->folder() + (numberedFirst ? QStringLiteral("same[001].pdf")
                                                    : QStringLiteral("same.pdf")),
                     path);
        checkFolder(run->folder(), {{QStringLiteral("same.pdf"), mine},
                                    {part, pdf_},
                                    {part + QStringLiteral(".meta"), {}}});

        // The server recovers: the re-download continues the part and only then
        // puts the file in place.
        *cut = false;
        const int asked = int(server_.requests.size());
        run->tasks.RequeueFailedTasks();
        run->scheduler->Start();
        QTRY_VERIFY_WITH_TIMEOUT(finished(*run), 20000);
        QCOMPARE(run->tasks.task(1).state, TaskState::Done);
        QCOMPARE(server_.requests.at(asked).headers.value("range"), QByteArray("bytes=70000-"));
        if (policy == DuplicateNamePolicies::Overwrite)
            checkFolder(run->folder(), {{QStringLiteral("same.pdf"), pdf_}});
        else
            checkFolder(run->folder(), {{QStringLiteral("same.pdf"), mine},
                                        {QStringLiteral("same[001].pdf"), pdf_}});
    }

    void sameNamedTasks_data() {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("policy");
        QTest::addColumn<bool>("firstFails");
        for (int m : {1, 2}) {
            for (const QString& policy :
                 {DuplicateNamePolicies::Skip, DuplicateNamePolicies::Overwrite,
                  DuplicateNamePolicies::Rename})
                QTest::addRow("method %d, %s", m, qPrintable(policy)) << m << policy << false;
            QTest::addRow("method %d, skip, the first fails", m)
                << m << DuplicateNamePolicies::Skip << true;
        }
    }
    void sameNamedTasks() {
        QFETCH(int, method);
        QFETCH(QString, policy);
        QFETCH(bool, firstFails);
        const QString first =
            firstFails ? QStringLiteral("/twinCut.pdf") : QStringLiteral("/twinA.pdf");
        auto run = startNamed(method,
                              {{first, QStringLiteral("twin")},
                               {QStringLiteral("/twinB.pdf"), QStringLiteral("twin")}},
                              policy);
        QTRY_VERIFY_WITH_TIMEOUT(finished(*run), 20000);
        const QByteArray a = "/twinA.pdf" + pdf_;
        const QByteArray b = "/twinB.pdf" + pdf_;
        TaskListModel& tasks = run->tasks;
        if (firstFails) {
            // The first one's failure leaves the name free: the second one downloads;
            // the first one's cut part waits beside it under its own name.
            QCOMPARE(tasks.task(1).state, TaskState::Failed);
            QCOMPARE(tasks.task(2).percent, QStringLiteral("100%"));
            const QString cutPart = partName(run->folder() + QStringLiteral("twin.pdf"), first);
            QCOMPARE(tasks.task(1).partPath, run->folder() + cutPart);
            checkFolder(run->folder(), {{QStringLiteral("twin.pdf"), b},
                                        {cutPart, pdf_},
                                        {cutPart + QStringLiteral(".meta"), {}}});
        } else if (policy == DuplicateNamePolicies::Skip) {
            QCOMPARE(tasks.task(1).percent, QStringLiteral("100%"));
            QCOMPARE(tasks.task(2).percent, QStringLiteral("已存在，跳过"));
            checkFolder(run->folder(), {{QStringLiteral("twin.pdf"), a}});
        } else if (policy == DuplicateNamePolicies::Overwrite) {
            // One after the other, never into one part: the second one wins, and the
            // first row no longer claims the file.
            QCOMPARE(tasks.task(1).percent, QStringLiteral("100%"));
            QCOMPARE(tasks.task(2).percent, QStringLiteral("100%"));
            checkFolder(run->folder(), {{QStringLiteral("twin.pdf"), b}});
            QCOMPARE(tasks.task(1).savedPath, QString());
            QCOMPARE(tasks.task(2).savedPath, run->folder() + QStringLiteral("twin.pdf"));
            tasks.RequeueTask(1);
            checkFolder(run->folder(), {{QStringLiteral("twin.pdf"), b}});
        } else {
            QCOMPARE(tasks.task(2).name, QStringLiteral("twin[001]"));
            checkFolder(run->folder(),
                        {{QStringLiteral("twin.pdf"), a}, {QStringLiteral("twin[001].pdf"), b}});
        }
        QCOMPARE(run->scheduler->reservations().size(), 0);
    }

    void stopOrCloseMidBody_data() {
        QTest::addColumn<int>("method");
        QTest::addColumn<bool>("validator");
        QTest::addColumn<bool>("close");
        for (int m : {1, 2}) {
            for (bool validator : {true, false}) {
                for (bool close : {false, true})
                    QTest::addRow("method %d, %s, %s", m, validator ? "resumable" : "no validator",
                                  close ? "window closed" : "Stop")
                        << m << validator << close;
            }
        }
    }
    void stopOrCloseMidBody() {
        QFETCH(int, method);
        QFETCH(bool, validator);
        QFETCH(bool, close);
        const QString path = QStringLiteral("/midbody%1.pdf").arg(validator);
        route(path, [validator](auto& r) {
            r.dripBytes = 4000;
            r.dripDelayMs = 40;
            if (validator)
                r.etag = "\"mid\"";
        });
        auto run =
            startNamed(method, {{path, QStringLiteral("mid")}}, DuplicateNamePolicies::Rename);
        QTRY_VERIFY_WITH_TIMEOUT(run->tasks.task(1).received.toLongLong() > 0, 10000);
        const QString folder = run->folder();
        const QString part = partName(folder + QStringLiteral("mid.pdf"), path);
        if (close) {
            run->scheduler.reset(); // what closing the window does to the engine
        } else {
            run->scheduler->Stop();
            QCOMPARE(run->tasks.task(1).state, TaskState::Failed);
            QCOMPARE(run->tasks.task(1).percent, QStringLiteral("下载取消"));
            QTRY_COMPARE(run->scheduler->transfersInFlight(), 0);
        }
        if (validator)
            checkFolder(folder, {{part, pdf_}, {part + QStringLiteral(".meta"), {}}});
        else
            checkFolder(folder, {});
    }

    void aCutDownloadResumesWhereItStopped() {
        for (int method : {1, 2}) {
            const QString path = QStringLiteral("/resume%1.pdf").arg(method);
            auto cut = std::make_shared<bool>(true);
            server_.route(path, [this, cut](const FixtureServer::Request&) {
                FixtureServer::Response r;
                r.contentType = "application/pdf";
                r.body = pdf_;
                r.etag = "\"r\"";
                if (std::exchange(*cut, false))
                    r.cutAfter = 60000;
                return r;
            });
            auto run = startNamed(method, {{path, QStringLiteral("paper")}},
                                  DuplicateNamePolicies::Rename);
            QTRY_VERIFY_WITH_TIMEOUT(finished(*run), 20000);
            QCOMPARE(run->tasks.task(1).state, TaskState::Failed);
            const int asked = int(server_.requests.size());
            run->tasks.RequeueFailedTasks();
            run->scheduler->Start();
            QTRY_VERIFY_WITH_TIMEOUT(finished(*run), 20000);
            QCOMPARE(server_.requests.at(asked).headers.value("range"), QByteArray("bytes=60000-"));
            QCOMPARE(server_.requests.at(asked).headers.value("if-range"), QByteArray("\"r\""));
            checkFolder(run->folder(), {{QStringLiteral("paper.pdf"), pdf_}});
            QCOMPARE(run->tasks.task(1).partPath, QString());
        }
    }

    void aReadOnlyFileIsNotReplaced() {
        for (int method : {1, 2}) {
            auto run = std::make_unique<Run>();
            const QString target = run->folder() + QStringLiteral("kept.pdf");
            {
                QFile f(target);
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write("protected");
                f.setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadGroup);
            }
            run->options.DownloadMethod = qint16(method);
            run->tasks.appendTask(server_.url(QStringLiteral("/ok.pdf?ro%1").arg(method)),
                                  QStringLiteral("kept"), QStringLiteral("pdf"), run->folder());
            run->scheduler = std::make_unique<DownloadScheduler>(run->tasks, run->options,
                                                                 run->session, run->prompter);
            run->scheduler->settings.policy = DuplicateNamePolicies::Overwrite;
            run->scheduler->Start();
            run->scheduler->startSupervisor();
            QTRY_VERIFY_WITH_TIMEOUT(finished(*run), 20000);
            const DownloadTask& t = run->tasks.task(1);
            QCOMPARE(t.state, TaskState::Failed);
            QCOMPARE(t.percent, QStringLiteral("无法替换"));
            QCOMPARE(t.size, QStringLiteral("9"));
            checkFolder(run->folder(), {{QStringLiteral("kept.pdf"), "protected"}});
        }
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
        // A body whose size nobody announced stops at the limit as well.
        for (int method : {1, 2}) {
            auto run = start(method, {QStringLiteral("/endless.pdf")}, 3,
                             DuplicateNamePolicies::Rename, 1);
            QTRY_VERIFY_WITH_TIMEOUT(finished(*run), 20000);
            QCOMPARE(run->tasks.task(1).percent, QStringLiteral("大文件，跳过"));
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
        QCOMPARE(run->tasks.task(1).result, TaskResult::Cancelled);
        QTRY_COMPARE(run->scheduler->transfersInFlight(), 0);
        QVERIFY(filesIn(run->folder()).isEmpty()); // no validator: nothing worth keeping
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
