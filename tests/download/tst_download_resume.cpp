#include "download/download_session.h"
#include "download/part_file.h"
#include "download/save_target.h"
#include "download/scheduler.h"
#include "download/task_list.h"
#include "download/url_replace.h"
#include "fixture_server.h"
#include "scripted_prompter.h"
#include "settings/settings_keys.h"
#include "settings/shared_options.h"
#include "test_main.h"
#include "tools/time_limits.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// Resumed downloads against servers that answer a range wrongly, and the part
// files of tasks whose address or name another task shares.
class TestDownloadResume : public QObject {
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

        void begin(int method, const QString& policy) {
            options.DownloadMethod = qint16(method);
            scheduler = std::make_unique<DownloadScheduler>(tasks, options, session, prompter);
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
    QList<FixtureServer::Request> requestsTo(const QString& path) const {
        QList<FixtureServer::Request> found;
        for (const auto& r : server_.requests)
            if (r.path == path)
                found.append(r);
        return found;
    }
    // A body that names the address it came from.
    QByteArray bodyFor(const QString& query) const {
        return "%PDF-1.4 for " + query.toUtf8() + '\n' + pdf_;
    }

private slots:
    void initTestCase() {
        TimeLimits::SetScale(0.01);
        pdf_ = "%PDF-1.4\n";
        for (int i = 0; pdf_.size() < 150000; ++i)
            pdf_ += QByteArray::number(i) + " 0 obj << /Type /Page >> endobj\n";
        pdf_ += "%%EOF\n";
        QVERIFY(server_.start());
        // Served slowly, each address its own bytes, resumable.
        server_.route(QStringLiteral("/k.pdf"), [this](const FixtureServer::Request& request) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.body = bodyFor(request.query);
            r.etag = '"' + request.query.toUtf8() + '"';
            r.dripBytes = 8000;
            r.dripDelayMs = 40;
            return r;
        });
    }

    // A 206 sent chunked or up to the connection's close, with fewer or more bytes
    // than its Content-Range says, was saved as complete (and replaced the user's
    // file under "覆盖").
    void partialAnswersThatDoNotFitNeverReplaceAFile() {
        for (int method : {1, 2}) {
            for (bool chunked : {false, true}) {
                for (qint64 extra : {qint64(-5000), qint64(1900)}) {
                    const QString path = QStringLiteral("/hostile-%1-%2-%3.pdf")
                                             .arg(method)
                                             .arg(chunked ? "chunked" : "close")
                                             .arg(extra < 0 ? "short" : "long");
                    const QString label = path;
                    server_.hostileRange(path, {pdf_, "\"h\"", {}, chunked, extra, {}, {}});
                    Run run;
                    const QString target = run.folder() + QStringLiteral("x.pdf");
                    write(target, "the user's good copy");
                    const QString address = DownloadAddress(server_.url(path));
                    const QString part = PartPathFor(target, address);
                    write(part, pdf_.left(60000));
                    QVERIFY(WritePartMeta(
                        part,
                        {address, "\"h\"", {}, pdf_.size(), QStringLiteral("application/pdf")}));
                    run.tasks.appendTask(server_.url(path), QStringLiteral("x"),
                                         QStringLiteral("pdf"), run.folder());
                    run.begin(method, DuplicateNamePolicies::Overwrite);
                    QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
                    QVERIFY2(run.tasks.task(1).state == TaskState::Failed, qPrintable(label));
                    QCOMPARE(read(target), QByteArray("the user's good copy"));
                    QCOMPARE(files(run.folder()), QStringList{QStringLiteral("x.pdf")});
                    QCOMPARE(requestsTo(path).last().headers.value("range"),
                             QByteArray("bytes=60000-"));

                    // Nothing of it is continued: the next attempt fetches the whole file.
                    run.tasks.RequeueTask(1);
                    run.scheduler->Start();
                    QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
                    QVERIFY2(run.tasks.task(1).state == TaskState::Done, qPrintable(label));
                    QCOMPARE(read(target), pdf_);
                    QVERIFY(!requestsTo(path).last().headers.contains("range"));
                }
            }
        }
    }

    // A size limit of 0 is no limit: the options dialog's way of turning it off.
    void aLimitOfZeroIsNoLimit() {
        server_.route(QStringLiteral("/small.pdf"), [](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.body = "%PDF-1.4 tiny\n%%EOF\n";
            return r;
        });
        for (int method : {1, 2}) {
            Run run;
            run.options.MaxFileSizeMB = 0;
            run.tasks.appendTask(server_.url(QStringLiteral("/small.pdf?%1").arg(method)),
                                 QStringLiteral("tiny"), QStringLiteral("pdf"), run.folder());
            run.begin(method, DuplicateNamePolicies::Rename);
            QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
            QCOMPARE(run.tasks.task(1).state, TaskState::Done);
            QCOMPARE(run.tasks.task(1).percent, QStringLiteral("100%"));
            QCOMPARE(read(run.folder() + QStringLiteral("tiny.pdf")), QByteArray("%PDF-1.4 tiny\n%%EOF\n"));
            QCOMPARE(files(run.folder()), QStringList{QStringLiteral("tiny.pdf")});
        }
    }

    // After an address replace, a row took over the part another row had kept for
    // the same address; the other row then deleted it under the running download.
    void aReplacedAddressNeverCostsAnotherRowItsPart() {
        Run run;
        const QString a = server_.url(QStringLiteral("/k.pdf?k=ab"));
        run.tasks.appendTask(a, QStringLiteral("x"), QStringLiteral("pdf"), run.folder());
        run.begin(2, DuplicateNamePolicies::Rename);
        QTRY_VERIFY_WITH_TIMEOUT(run.tasks.task(1).received.toLongLong() > 0, 10000);
        run.scheduler->Stop();
        QTRY_COMPARE(run.scheduler->transfersInFlight(), 0);
        const QString kept = run.tasks.task(1).partPath;
        QVERIFY(QFile::exists(kept));

        run.tasks.appendTask(server_.url(QStringLiteral("/k.pdf?k=abb")), QStringLiteral("x"),
                             QStringLiteral("pdf"), run.folder());
        QVERIFY(!ReplaceInAllUrls(run.tasks, QStringLiteral("ab"), QStringLiteral("a")));
        QCOMPARE(run.tasks.task(2).url, a); // the second row now has the first one's address
        QCOMPARE(run.tasks.task(1).partPath, QString());
        run.scheduler->Start();
        QTRY_VERIFY_WITH_TIMEOUT(run.tasks.task(2).received.toLongLong() > 0, 10000);
        run.tasks.RequeueTask(1);
        QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
        for (int row = 1; row <= 2; ++row) {
            const DownloadTask& t = run.tasks.task(row);
            QVERIFY2(t.state == TaskState::Done, qPrintable(t.percent + u' ' + t.error));
            QCOMPARE(read(t.savedPath), bodyFor(QUrl(t.url).query()));
        }
        QCOMPARE(files(run.folder()),
                 (QStringList{QStringLiteral("x.pdf"), QStringLiteral("x[001].pdf")}));
    }

    // A one-at-a-time task named like a download that still held its name (one
    // stopped and still tidying up, after a switch from the parallel method) was
    // asked for again on every tick while the name was busy.
    void aBusyNameIsNotAskedForOnEveryTick() {
        Run run;
        run.tasks.appendTask(server_.url(QStringLiteral("/k.pdf?k=one")), QStringLiteral("x"),
                             QStringLiteral("xxx"), run.folder());
        run.tasks.appendTask(server_.url(QStringLiteral("/k.pdf?k=two")), QStringLiteral("y"),
                             QStringLiteral("pdf"), run.folder());
        run.options.DownloadMethod = 1;
        run.scheduler =
            std::make_unique<DownloadScheduler>(run.tasks, run.options, run.session, run.prompter);
        run.scheduler->settings.policy = DuplicateNamePolicies::Overwrite;
        // Stand-ins for the stopped downloads that still hold x.pdf and y.pdf.
        auto& held = const_cast<NameReservations&>(run.scheduler->reservations());
        for (const char* name : {"x", "y"})
            QCOMPARE(
                ChooseSaveTarget(held,
                                 {run.folder(), QString::fromLatin1(name), QStringLiteral("pdf"),
                                  DuplicateNamePolicies::Overwrite, false},
                                 900000 + name[0])
                    .status,
                ChosenTarget::Ok);
        const auto asked = [this](const QString& query) {
            int n = 0;
            for (const auto& r : server_.requests)
                n += r.query == query ? 1 : 0;
            return n;
        };
        run.scheduler->startSupervisor();
        run.scheduler->Start();
        // The first learns the server's type (and with it that its name is busy) once.
        QTRY_COMPARE_WITH_TIMEOUT(run.tasks.task(1).type, QStringLiteral("pdf"), 10000);
        QTest::qWait(300); // thirty ticks
        QCOMPARE(asked(QStringLiteral("k=one")), 1);
        QCOMPARE(asked(QStringLiteral("k=two")), 0);
        QCOMPARE(run.tasks.task(1).state, TaskState::Waiting);

        held.release(900000 + 'x');
        held.release(900000 + 'y');
        QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
        QCOMPARE(asked(QStringLiteral("k=one")), 2);
        QCOMPARE(asked(QStringLiteral("k=two")), 1);
        QCOMPARE(read(run.folder() + QStringLiteral("x.pdf")), bodyFor(QStringLiteral("k=one")));
        QCOMPARE(read(run.folder() + QStringLiteral("y.pdf")), bodyFor(QStringLiteral("k=two")));
    }
};

QM_TEST_GUILESS_MAIN(TestDownloadResume)
#include "tst_download_resume.moc"
