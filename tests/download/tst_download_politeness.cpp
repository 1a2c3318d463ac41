#include "download/download_session.h"
#include "download/host_waits.h"
#include "download/part_file.h"
#include "download/scheduler.h"
#include "download/task_list.h"
#include "fixture_server.h"
#include "scripted_prompter.h"
#include "settings/settings_keys.h"
#include "settings/shared_options.h"
#include "test_main.h"
#include "tools/time_limits.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QUrl>

// Servers that ask for a pause get it, and PDFs that arrive cut short are caught.
class TestDownloadPoliteness : public QObject {
    Q_OBJECT

    FixtureServer busy_;  // the host that asks for pauses
    FixtureServer other_; // another host, which never does
    QByteArray pdf_;
    QElapsedTimer clock_;

    struct Run {
        QTemporaryDir dir;
        TaskListModel tasks;
        SharedOptions options;
        ScriptedPrompter prompter;
        DownloadSession session{nullptr};
        std::unique_ptr<DownloadScheduler> scheduler;
        QString folder() const { return dir.path() + u'/'; }

        void add(const QString& url, const QString& name) {
            tasks.appendTask(url, name, QStringLiteral("pdf"), folder());
        }
        void begin(int method, int threads) {
            options.DownloadMethod = qint16(method);
            scheduler = std::make_unique<DownloadScheduler>(tasks, options, session, prompter);
            scheduler->settings.threads = threads;
            scheduler->settings.policy = DuplicateNamePolicies::Rename;
            scheduler->settings.stopAfterProblems = true;
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

    static QByteArray HttpDate(const QDateTime& at) {
        return QLocale::c()
            .toString(at.toUTC(), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"))
            .toLatin1();
    }

    // When each request for a path arrived, in ms of the test's clock.
    QHash<QString, QList<qint64>> arrivals_;

    void route(FixtureServer& server, const QString& path,
               std::function<void(int n, FixtureServer::Response&)> shape) {
        server.route(path, [this, path, shape](const FixtureServer::Request&) {
            auto& times = arrivals_[path];
            times.append(clock_.elapsed());
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.body = pdf_;
            r.etag = "\"v1\"";
            shape(int(times.size()), r);
            return r;
        });
    }

private slots:
    void initTestCase() {
        TimeLimits::SetScale(0.01); // first backoff 300 ms, the longest 6 s
        clock_.start();
        pdf_ = "%PDF-1.4\n";
        for (int i = 0; pdf_.size() < 150000; ++i)
            pdf_ += QByteArray::number(i) + " 0 obj << /Type /Page >> endobj\n";
        pdf_ += "trailer << /Root 1 0 R >>\n%%EOF\n";
        QVERIFY(busy_.start());
        QVERIFY(other_.start());
    }

    // Per host: a named wait is kept, an unnamed one doubles up to the most, one
    // burst of answers counts once, and a normal answer starts the backoff over.
    void hostWaitsAndBackoff() {
        const QDateTime t0(QDate(2024, 5, 1), QTime(12, 0, 0));
        HostWaits waits;
        const QString host = HostWaits::HostOf(QUrl(QStringLiteral("http://Pubs.Example.org/a")));
        QCOMPARE(host, QStringLiteral("pubs.example.org:80"));
        QCOMPARE(HostWaits::HostOf(QUrl(QStringLiteral("https://a.b:8443/x"))),
                 QStringLiteral("a.b:8443"));
        QDateTime at = t0;
        for (qint64 expected : {300, 600, 1200, 2400, 4800, 6000, 6000}) {
            const QDateTime until = waits.busy(host, -1, at);
            QCOMPARE(at.msecsTo(until), expected);
            QVERIFY(waits.waiting(host, until.addMSecs(-1)));
            QVERIFY(!waits.waiting(host, until));
            at = until;
        }
        waits.answered(host);
        QCOMPARE(at.msecsTo(waits.busy(host, -1, at)), 300);

        // Six transfers answered busy at once: one step, not six.
        HostWaits burst;
        QDateTime until;
        for (int i = 0; i < 6; ++i) {
            until = burst.busy(host, -1, t0.addMSecs(i));
            QCOMPARE(t0.addMSecs(i).msecsTo(until), 300);
        }
        QCOMPARE(until.msecsTo(burst.busy(host, -1, until)), 600);

        // Retry-After as given, within the most a server may ask; "0" is no answer.
        HostWaits named;
        QCOMPARE(t0.msecsTo(named.busy(QStringLiteral("a:80"), 2, t0)), 2000);
        QCOMPARE(t0.msecsTo(named.busy(QStringLiteral("b:80"), 999999, t0)),
                 TimeLimits::Scaled(TimeLimits::RetryAfterCap).count());
        QCOMPARE(t0.msecsTo(named.busy(QStringLiteral("c:80"), 0, t0)), 300);
        QVERIFY(!named.waiting(QStringLiteral("d:80"), t0));
        QCOMPARE(RetryLaterText(QDateTime(QDate(2024, 1, 1), QTime(12, 3, 10))),
                 QStringLiteral("稍后重试 12:03:10"));
    }

    void aBusyHostWaitsWhileOthersGoAhead_data() {
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("asDate");
        for (int method : {1, 2}) {
            QTest::addRow("method %d, 429, seconds", method) << method << 429 << false;
            QTest::addRow("method %d, 429, date", method) << method << 429 << true;
            QTest::addRow("method %d, 503, seconds", method) << method << 503 << false;
        }
    }
    // The task goes back to waiting with the time in its row; the host's other
    // task is not asked for meanwhile, another host's is fetched; nothing counts as
    // a problem; afterwards both arrive whole.
    void aBusyHostWaitsWhileOthersGoAhead() {
        QFETCH(int, method);
        QFETCH(int, status);
        QFETCH(bool, asDate);
        const QString tag = QStringLiteral("/%1-%2-%3").arg(method).arg(status).arg(asDate);
        const QString a = tag + QStringLiteral("/a.pdf");
        const QString b = tag + QStringLiteral("/b.pdf");
        const QString c = tag + QStringLiteral("/c.pdf");
        route(busy_, a, [&](int n, FixtureServer::Response& r) {
            if (n > 1)
                return;
            r.status = status;
            r.contentType = "text/html";
            r.body = "<html><head><title>slow down</title></head></html>";
            r.headers.append(
                {"Retry-After",
                 asDate ? HttpDate(QDateTime::currentDateTimeUtc().addSecs(3)) : QByteArray("2")});
        });
        route(busy_, b, [](int, FixtureServer::Response&) {});
        route(other_, c, [](int, FixtureServer::Response&) {});
        Run run;
        run.add(busy_.url(a), QStringLiteral("a"));
        run.add(busy_.url(b), QStringLiteral("b"));
        run.add(other_.url(c), QStringLiteral("c"));
        run.begin(method, 1);
        const QDateTime before = QDateTime::currentDateTime();
        QTRY_VERIFY_WITH_TIMEOUT(run.tasks.task(1).percent.startsWith(QStringLiteral("稍后重试 ")),
                                 10000);
        const DownloadTask& first = run.tasks.task(1);
        QCOMPARE(first.state, TaskState::Waiting);
        QVERIFY(first.error.contains(QString::number(status)));
        const QDateTime shown = QDateTime(
            before.date(), QTime::fromString(first.percent.mid(5), QStringLiteral("HH:mm:ss")));
        // The time shown is the one the server named (to the second), not a backoff.
        const qint64 ahead = before.msecsTo(shown);
        QVERIFY2(ahead > 500 && ahead <= 4000,
                 qPrintable(first.percent + u' ' + before.toString() + u' ' + first.error));
        QCOMPARE(run.tasks.CountProblemTasks(), 0);

        QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
        for (int row = 1; row <= 3; ++row) {
            const DownloadTask& t = run.tasks.task(row);
            QCOMPARE(t.state, TaskState::Done);
            QCOMPARE(read(t.savedPath), pdf_);
        }
        const qint64 refused = arrivals_.value(a).at(0);
        // The other host did not wait; the busy one's tasks did, the one never tried too.
        QVERIFY(arrivals_.value(c).at(0) - refused < 1500);
        QVERIFY2(arrivals_.value(b).at(0) - refused >= (asDate ? 1900 : 1900),
                 qPrintable(QString::number(arrivals_.value(b).at(0) - refused)));
        QVERIFY(arrivals_.value(a).at(1) - refused >= 1900);
        QVERIFY(run.scheduler->running() || run.finished());
    }

    // A wait is kept under the host of the task's own address: a redirect to a busy
    // host holds that address's other tasks, not the tasks that name the busy host.
    void aRedirectedBusyAnswerHoldsTheTasksOwnHost() {
        for (int method : {1, 2}) {
            const QString tag = QStringLiteral("/redirected-%1").arg(method);
            const QString busyTarget = tag + QStringLiteral("/busy.pdf");
            route(other_, busyTarget, [](int n, FixtureServer::Response& r) {
                if (n > 1)
                    return;
                r.status = 429;
                r.contentType = "text/html";
                r.body = "<html><head><title>slow down</title></head></html>";
                r.headers.append({"Retry-After", QByteArray("2")});
            });
            const QString hop = tag + QStringLiteral("/hop.pdf");
            busy_.route(hop, [this, busyTarget](const FixtureServer::Request&) {
                FixtureServer::Response r;
                r.status = 302;
                r.headers.append({"Location", other_.url(busyTarget).toUtf8()});
                return r;
            });
            const QString sibling = tag + QStringLiteral("/sibling.pdf");
            const QString direct = tag + QStringLiteral("/direct.pdf");
            route(busy_, sibling, [](int, FixtureServer::Response&) {});
            route(other_, direct, [](int, FixtureServer::Response&) {});
            Run run;
            run.add(busy_.url(hop), QStringLiteral("hop"));
            run.add(busy_.url(sibling), QStringLiteral("sibling"));
            run.add(other_.url(direct), QStringLiteral("direct"));
            run.begin(method, 1);
            QTRY_VERIFY_WITH_TIMEOUT(
                run.tasks.task(1).percent.startsWith(QStringLiteral("稍后重试 ")), 10000);
            const qint64 refused = arrivals_.value(busyTarget).at(0);
            QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
            for (int row = 1; row <= 3; ++row)
                QCOMPARE(read(run.tasks.task(row).savedPath), pdf_);
            // The task naming the busy host directly went ahead at once; the
            // redirecting address's other task waited out the pause.
            const qint64 directAt = arrivals_.value(direct).at(0) - refused;
            const qint64 siblingAt = arrivals_.value(sibling).at(0) - refused;
            QVERIFY2(directAt < 1500, qPrintable(QString::number(directAt)));
            QVERIFY2(siblingAt >= 1900, qPrintable(QString::number(siblingAt)));
            QCOMPARE(run.tasks.CountProblemTasks(), 0);
        }
    }

    // A burst of 503s without Retry-After: every task waits the first backoff, none
    // counts towards the stop-after-five rule, and the run carries on to the end.
    void aBurstOfBusyAnswersBacksOffOnce() {
        Run run;
        QList<QString> paths;
        int answered = 0;
        for (int i = 0; i < 6; ++i) {
            paths << QStringLiteral("/burst/%1.pdf").arg(i);
            route(busy_, paths.last(), [&answered](int n, FixtureServer::Response& r) {
                if (n > 1 || ++answered > 6)
                    return;
                r.status = 503;
                r.contentType = "text/html";
                r.body = "<html><head><title>busy</title></head></html>";
            });
            run.add(busy_.url(paths.last()), QStringLiteral("p%1").arg(i));
        }
        run.begin(2, 6);
        QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
        qint64 lastRefusal = 0;
        qint64 firstRetry = std::numeric_limits<qint64>::max();
        for (const QString& path : paths) {
            QCOMPARE(arrivals_.value(path).size(), 2);
            lastRefusal = std::max(lastRefusal, arrivals_.value(path).at(0));
            firstRetry = std::min(firstRetry, arrivals_.value(path).at(1));
        }
        const qint64 firstBackoff = TimeLimits::Scaled(TimeLimits::HostBackoffFirst).count();
        QVERIFY2(firstRetry - lastRefusal >= firstBackoff - 50,
                 qPrintable(QString::number(firstRetry - lastRefusal)));
        for (int row = 1; row <= run.tasks.count(); ++row)
            QCOMPARE(read(run.tasks.task(row).savedPath), pdf_);
    }

    void aCutPdfIsCaughtAndResumed_data() {
        QTest::addColumn<int>("method");
        QTest::addColumn<bool>("announced");
        for (int method : {1, 2}) {
            QTest::addRow("method %d, no length", method) << method << false;
            QTest::addRow("method %d, announced length", method) << method << true;
        }
    }
    // A PDF that stops short, with or without a length announced, fails as
    // "PDF不完整" and keeps its part; "重新下载出错项" continues it to the same bytes.
    void aCutPdfIsCaughtAndResumed() {
        QFETCH(int, method);
        QFETCH(bool, announced);
        const QString path = QStringLiteral("/cut-%1-%2.pdf").arg(method).arg(announced);
        route(busy_, path, [announced](int n, FixtureServer::Response& r) {
            r.sendLength = announced;
            if (n == 1)
                r.cutAfter = 60000;
        });
        Run run;
        run.add(busy_.url(path), QStringLiteral("paper"));
        run.begin(method, 2);
        QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
        const DownloadTask& t = run.tasks.task(1);
        QCOMPARE(t.state, TaskState::Failed);
        QCOMPARE(t.percent, QStringLiteral("PDF不完整"));
        QVERIFY(t.error.startsWith(QStringLiteral("PDF不完整")));
        const qint64 got = t.received.toLongLong();
        QVERIFY2(got > 0 && got <= 60000, qPrintable(t.received));
        QVERIFY(!QFile::exists(run.folder() + QStringLiteral("paper.pdf")));
        QCOMPARE(read(t.partPath), pdf_.left(got));

        run.tasks.RequeueFailedTasks();
        run.scheduler->Start();
        QTRY_VERIFY_WITH_TIMEOUT(run.finished() && run.tasks.task(1).state != TaskState::Waiting,
                                 20000);
        QCOMPARE(run.tasks.task(1).state, TaskState::Done);
        QCOMPARE(read(run.folder() + QStringLiteral("paper.pdf")), pdf_);
        QCOMPARE(busy_.requests.last().headers.value("range"),
                 "bytes=" + QByteArray::number(got) + '-');
        QCOMPARE(QDir(run.folder()).entryList(QDir::Files),
                 QStringList{QStringLiteral("paper.pdf")});
    }

    // Only a PDF without its end is caught: one with bytes after "%%EOF", or a
    // page that is no PDF at all, is saved as before; a broken file on the server
    // fails again without being fetched whole again.
    void onlyPdfsWithoutTheirEndAreCaught() {
        route(busy_, QStringLiteral("/tail.pdf"),
              [this](int, FixtureServer::Response& r) { r.body = pdf_ + QByteArray(900, ' '); });
        route(busy_, QStringLiteral("/broken.pdf"),
              [this](int, FixtureServer::Response& r) { r.body = pdf_.left(pdf_.size() - 7); });
        busy_.page(QStringLiteral("/page.html"), "<html><head><title>t</title></head></html>");
        Run run;
        run.add(busy_.url(QStringLiteral("/tail.pdf")), QStringLiteral("tail"));
        run.add(busy_.url(QStringLiteral("/broken.pdf")), QStringLiteral("broken"));
        run.add(busy_.url(QStringLiteral("/page.html")), QStringLiteral("page"));
        run.begin(2, 3);
        QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 20000);
        QCOMPARE(run.tasks.task(1).state, TaskState::Done);
        QCOMPARE(run.tasks.task(2).percent, QStringLiteral("PDF不完整"));
        QCOMPARE(run.tasks.task(3).state, TaskState::Done);
        QCOMPARE(run.tasks.task(3).type, QStringLiteral("htm"));

        const int before = int(arrivals_.value(QStringLiteral("/broken.pdf")).size());
        run.tasks.RequeueFailedTasks();
        run.scheduler->Start();
        QTRY_VERIFY_WITH_TIMEOUT(run.finished() && run.tasks.task(2).state != TaskState::Waiting,
                                 20000);
        QCOMPARE(run.tasks.task(2).percent, QStringLiteral("PDF不完整"));
        QCOMPARE(arrivals_.value(QStringLiteral("/broken.pdf")).size(), before + 1);
        QCOMPARE(busy_.requests.last().headers.value("range"),
                 "bytes=" + QByteArray::number(pdf_.size() - 7) + '-');
        QVERIFY(!QFile::exists(run.folder() + QStringLiteral("broken.pdf")));
    }
};

QM_TEST_GUI_MAIN(TestDownloadPoliteness)
#include "tst_download_politeness.moc"
