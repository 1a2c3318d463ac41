#include "download/download_session.h"
#include "download/part_file.h"
#include "download/save_target.h"
#include "download/transfer_core.h"
#include "download/transfer_pool.h"
#include "fixture_server.h"
#include "settings/settings_keys.h"
#include "test_main.h"
#include "tools/time_limits.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <climits>
#include <functional>
#include <mutex>
#include <semaphore>
#include <thread>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

std::binary_semaphore StuckEntered(0);
std::binary_semaphore StuckReleased(0);

// A transfer whose worker hangs in a blocking call (a dead disk) until released.
QCoro::Task<TransferOutcome> StuckTransfer(QNetworkAccessManager&, TransferTicket&,
                                           TransferControl&) {
    StuckEntered.release();
    StuckReleased.acquire();
    co_return TransferOutcome{};
}

std::mutex SyncedLock;
QStringList Synced; // the files made durable, by the names they had then

} // namespace

// Stands in for the C library's: notes which file was synced, then syncs it.
extern "C" int fsync(int fd) {
    char name[PATH_MAX];
    const ssize_t n = ::readlink(QByteArray("/proc/self/fd/" + QByteArray::number(fd)).constData(),
                                 name, sizeof name);
    if (n > 0) {
        const std::lock_guard lock(SyncedLock);
        Synced.append(QString::fromLocal8Bit(name, n));
    }
    return int(::syscall(SYS_fsync, fd));
}

// The transfer core on its own: what reaches the disk, and when a kept part is
// continued or thrown away.
class TestTransferCore : public QObject {
    Q_OBJECT

    FixtureServer server_;
    DownloadSession session_{nullptr};
    QByteArray v1_;
    QByteArray v2_;

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

    struct Job {
        QString url;
        QString folder;
        QString name = QStringLiteral("paper");
        QString policy = DuplicateNamePolicies::Overwrite;
        double maxMB = 0;
        bool typeFromResponse = false;
        std::function<bool(const QString&)> beforeCommit = {};
        QString target() const { return folder + name + QStringLiteral(".pdf"); }
        QString part() const { return PartPathFor(target(), url); }
    };

    // Runs one transfer to its end; during() runs once its body is flowing.
    TransferOutcome
    run(const Job& j,
        const std::function<void(TransferPool&, std::shared_ptr<TransferTicket>)>& during = {}) {
        TransferPool pool(session_);
        TransferJob job;
        job.owner = 1;
        job.url = QUrl(j.url);
        job.target = j.target();
        job.partPath = j.part();
        job.naming = {j.folder, j.name, QStringLiteral("pdf"), j.policy, j.typeFromResponse};
        job.maxFileSizeMB = j.maxMB;
        job.reservations = std::make_shared<NameReservations>();
        job.beforeCommit = j.beforeCommit;
        auto ticket = pool.start(job);
        if (during) {
            [&] { QTRY_VERIFY_WITH_TIMEOUT(ticket->received.load() > 0, 10000); }();
            during(pool, ticket);
        }
        [&] { QTRY_VERIFY_WITH_TIMEOUT(ticket->finished.load(), 20000); }();
        [&] { QTRY_COMPARE(pool.running(), 0); }();
        return ticket->outcome;
    }

    // A route that cuts its first answer after cut bytes and answers whole afterwards.
    void cutOnce(const QString& path, const QByteArray& etag, qint64 cut, bool gzip = false) {
        auto served = std::make_shared<int>(0);
        server_.route(path, [this, served, etag, cut, gzip](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.body = v1_;
            r.etag = etag;
            r.gzip = gzip;
            if ((*served)++ == 0)
                r.cutAfter = cut;
            return r;
        });
    }

    QList<FixtureServer::Request> requestsTo(const QString& path) const {
        QList<FixtureServer::Request> found;
        for (const auto& r : server_.requests)
            if (r.path == path)
                found.append(r);
        return found;
    }

private slots:
    void initTestCase() {
        TimeLimits::SetScale(0.01);
        for (int i = 0; v1_.size() < 300000; ++i)
            v1_ += "%PDF line " + QByteArray::number(i) + " of the first version\n";
        v1_ += "%%EOF\n";
        v2_ = v1_;
        v2_.replace("first", "other");
        QVERIFY(server_.start());
    }

    void aCutDownloadResumesToTheSameBytes() {
        QTemporaryDir dir;
        Job job{server_.url(QStringLiteral("/cut.pdf")), dir.path() + u'/'};
        cutOnce(QStringLiteral("/cut.pdf"), "\"v1\"", 60000);
        TransferOutcome first = run(job);
        QCOMPARE(first.result, TransferResult::TruncatedPdf);
        QVERIFY(first.partKept);
        QCOMPARE(files(job.folder), (QStringList{QFileInfo(job.part()).fileName(),
                                                 QFileInfo(PartMetaPath(job.part())).fileName()}));
        QCOMPARE(read(job.part()), v1_.left(60000));

        const TransferOutcome second = run(job);
        QCOMPARE(second.result, TransferResult::Saved);
        QCOMPARE(second.resumedFrom, 60000);
        QCOMPARE(read(job.target()), v1_);
        QCOMPARE(files(job.folder), QStringList{QStringLiteral("paper.pdf")});
        const auto asked = requestsTo(QStringLiteral("/cut.pdf"));
        QCOMPARE(asked.size(), 2);
        QVERIFY(!asked.at(0).headers.contains("range"));
        QCOMPARE(asked.at(1).headers.value("range"), QByteArray("bytes=60000-"));
        QCOMPARE(asked.at(1).headers.value("if-range"), QByteArray("\"v1\""));

        // Last-Modified serves as well when there is no ETag.
        QTemporaryDir dated;
        Job byDate{server_.url(QStringLiteral("/dated.pdf")), dated.path() + u'/'};
        auto served = std::make_shared<int>(0);
        server_.route(QStringLiteral("/dated.pdf"), [this, served](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.body = v1_;
            r.lastModified = "Wed, 21 Oct 2015 07:28:00 GMT";
            if ((*served)++ == 0)
                r.cutAfter = 1000;
            return r;
        });
        QCOMPARE(run(byDate).result, TransferResult::TruncatedPdf);
        QCOMPARE(run(byDate).resumedFrom, 1000);
        QCOMPARE(read(byDate.target()), v1_);
    }

    void bytesOfAnotherVersionAreNeverAppended() {
        // The file changed between the attempts: If-Range gets the whole new one.
        QTemporaryDir dir;
        Job job{server_.url(QStringLiteral("/changing.pdf")), dir.path() + u'/'};
        auto version = std::make_shared<int>(1);
        server_.route(QStringLiteral("/changing.pdf"),
                      [this, version](const FixtureServer::Request&) {
                          FixtureServer::Response r;
                          r.contentType = "application/pdf";
                          r.body = *version == 1 ? v1_ : v2_;
                          r.etag = *version == 1 ? "\"v1\"" : "\"v2\"";
                          if (*version == 1)
                              r.cutAfter = 50000;
                          *version = 2;
                          return r;
                      });
        QCOMPARE(run(job).result, TransferResult::TruncatedPdf);
        TransferOutcome fresh = run(job);
        QCOMPARE(fresh.result, TransferResult::Saved);
        QCOMPARE(fresh.resumedFrom, 0);
        QCOMPARE(read(job.target()), v2_);

        // A server that ignores ranges starts it over as well.
        QTemporaryDir plain;
        Job again{server_.url(QStringLiteral("/noranges.pdf")), plain.path() + u'/'};
        auto first = std::make_shared<bool>(true);
        server_.route(QStringLiteral("/noranges.pdf"),
                      [this, first](const FixtureServer::Request&) {
                          FixtureServer::Response r;
                          r.contentType = "application/pdf";
                          r.body = v1_;
                          r.etag = "\"n\"";
                          r.ranges = false;
                          if (std::exchange(*first, false))
                              r.cutAfter = 70000;
                          return r;
                      });
        QCOMPARE(run(again).result, TransferResult::TruncatedPdf);
        QCOMPARE(run(again).resumedFrom, 0);
        QCOMPARE(read(again.target()), v1_);

        // A partial answer for the wrong place is thrown away and fetched whole.
        QTemporaryDir lying;
        Job liar{server_.url(QStringLiteral("/liar.pdf")), lying.path() + u'/'};
        server_.route(QStringLiteral("/liar.pdf"), [this](const FixtureServer::Request& request) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.etag = "\"l\"";
            r.body = v1_;
            if (request.headers.contains("range")) {
                r.status = 206;
                r.body = v2_.left(1000);
                r.headers.append(qMakePair(QByteArray("Content-Range"),
                                           "bytes 0-999/" + QByteArray::number(v1_.size())));
            }
            return r;
        });
        write(liar.part(), v1_.left(5000));
        QVERIFY(WritePartMeta(liar.part(), {liar.url, "\"l\"", {}, v1_.size()}));
        const TransferOutcome healed = run(liar);
        QCOMPARE(healed.result, TransferResult::Saved);
        QCOMPARE(read(liar.target()), v1_);
        QCOMPARE(requestsTo(QStringLiteral("/liar.pdf")).size(), 2);
        QCOMPARE(files(liar.folder), QStringList{QStringLiteral("paper.pdf")});
    }

    // Without a safe validator a cut PDF is still kept; it is continued without
    // If-Range only when the server names the same whole size again.
    void aCutPdfWithoutAValidatorResumesBySize() {
        for (const char* route : {"/weak.pdf", "/none.pdf"}) {
            QTemporaryDir dir;
            const QString path = QString::fromLatin1(route);
            Job job{server_.url(path), dir.path() + u'/'};
            cutOnce(path, path == u"/weak.pdf" ? "W/\"w\"" : "", 5000);
            const TransferOutcome cut = run(job);
            QVERIFY2(cut.result == TransferResult::TruncatedPdf, route);
            QVERIFY2(cut.partKept, route);
            QCOMPARE(files(job.folder),
                     (QStringList{QFileInfo(job.part()).fileName(),
                                  QFileInfo(PartMetaPath(job.part())).fileName()}));
            const TransferOutcome resumed = run(job);
            QVERIFY2(resumed.result == TransferResult::Saved, route);
            QCOMPARE(resumed.resumedFrom, 5000);
            QCOMPARE(read(job.target()), v1_);
            QCOMPARE(files(job.folder), QStringList{QStringLiteral("paper.pdf")});
            const auto asked = requestsTo(path);
            QCOMPARE(asked.size(), 2);
            QCOMPARE(asked.at(1).headers.value("range"), QByteArray("bytes=5000-"));
            QVERIFY(!asked.at(1).headers.contains("if-range"));
        }

        // The file grew meanwhile: a partial answer of another size is not appended.
        {
            QTemporaryDir dir;
            Job job{server_.url(QStringLiteral("/grown.pdf")), dir.path() + u'/'};
            const QByteArray grown = "%PDF extra first line\n" + v1_;
            auto served = std::make_shared<int>(0);
            server_.route(QStringLiteral("/grown.pdf"),
                          [this, served, grown](const FixtureServer::Request&) {
                              FixtureServer::Response r;
                              r.contentType = "application/pdf";
                              r.body = (*served)++ == 0 ? v1_ : grown;
                              if (*served == 1)
                                  r.cutAfter = 8000;
                              return r;
                          });
            QCOMPARE(run(job).result, TransferResult::TruncatedPdf);
            const TransferOutcome fresh = run(job);
            QCOMPARE(fresh.result, TransferResult::Saved);
            QCOMPARE(fresh.resumedFrom, 0);
            QCOMPARE(read(job.target()), grown);
        }

        // Cut without any length announced: nothing to check a partial answer
        // against, so the next attempt starts over.
        {
            QTemporaryDir dir;
            Job job{server_.url(QStringLiteral("/unsized.pdf")), dir.path() + u'/'};
            auto served = std::make_shared<int>(0);
            server_.route(QStringLiteral("/unsized.pdf"),
                          [this, served](const FixtureServer::Request&) {
                              FixtureServer::Response r;
                              r.contentType = "application/pdf";
                              r.body = v1_;
                              r.sendLength = false;
                              if ((*served)++ == 0)
                                  r.cutAfter = 9000;
                              return r;
                          });
            QCOMPARE(run(job).result, TransferResult::TruncatedPdf);
            const TransferOutcome fresh = run(job);
            QCOMPARE(fresh.result, TransferResult::Saved);
            QCOMPARE(fresh.resumedFrom, 0);
            QCOMPARE(read(job.target()), v1_);
            QVERIFY(!requestsTo(QStringLiteral("/unsized.pdf")).at(1).headers.contains("range"));
        }

        // A compressed body had no length of its own announced: not kept.
        QTemporaryDir dir;
        Job job{server_.url(QStringLiteral("/zipped.pdf")), dir.path() + u'/'};
        cutOnce(QStringLiteral("/zipped.pdf"), "\"z\"", 5000, true);
        const TransferOutcome cut = run(job);
        QCOMPARE(cut.result, TransferResult::Incomplete);
        QVERIFY(!cut.partKept);
        QVERIFY2(files(job.folder).isEmpty(), qPrintable(files(job.folder).join(u' ')));
    }

    // A whole body is put in place only once that is on record: refused, nothing
    // appears under the name (the record would not match after a crash) and the
    // part waits for the next attempt, with or without a validator.
    void aFileIsPlacedOnlyOnceItIsOnRecord() {
        for (const char* route : {"/noted.pdf", "/unnoted.pdf"}) {
            QTemporaryDir dir;
            const QString path = QString::fromLatin1(route);
            server_.route(path, [this, path](const FixtureServer::Request&) {
                FixtureServer::Response r;
                r.contentType = "application/pdf";
                r.body = v1_;
                if (path == u"/noted.pdf")
                    r.etag = "\"n\"";
                return r;
            });
            for (const QString& policy :
                 {DuplicateNamePolicies::Overwrite, DuplicateNamePolicies::Rename}) {
                Job job{server_.url(path), dir.path() + u'/'};
                job.policy = policy;
                auto told = std::make_shared<std::atomic<int>>(0);
                job.beforeCommit = [told](const QString& name) {
                    return name.isEmpty() || (++*told, false);
                };
                const TransferOutcome refused = run(job);
                QVERIFY2(refused.result == TransferResult::WriteFailed, route);
                QVERIFY(refused.errorText.startsWith(QStringLiteral("无法写入文件")));
                QCOMPARE(told->load(), 1);
                QVERIFY(refused.partKept);
                QVERIFY(refused.savedPath.isEmpty());
                QVERIFY(!QFileInfo::exists(job.target()));
                QCOMPARE(read(job.part()), v1_);

                job.beforeCommit = [told](const QString& name) {
                    if (!name.isEmpty())
                        ++*told;
                    return true;
                };
                const TransferOutcome placed = run(job);
                QVERIFY2(placed.result == TransferResult::Saved, route);
                QCOMPARE(told->load(), 2);
                QCOMPARE(read(job.target()), v1_);
                QCOMPARE(files(job.folder), QStringList{QStringLiteral("paper.pdf")});
                QVERIFY(QFile::remove(job.target()));
            }
        }
    }

    void aPartialAnswerOfAnotherVersionIsNeverAppended() {
        const QByteArray date1 = "Wed, 21 Oct 2015 07:28:00 GMT";
        const QByteArray date2 = "Thu, 22 Oct 2015 07:28:00 GMT";
        struct Case {
            const char* path;
            QByteArray keptEtag;
            QByteArray sentIfRange;
            FixtureServer::HostileRange server;
        };
        const QList<Case> cases{
            // If-Range names the ETag; the 206 leaves it out and brings a newer date.
            {"/dropped-etag.pdf",
             "\"a\"",
             "\"a\"",
             {v2_, "\"b\"", date2, false, 0, QByteArray(), date2}},
            // The kept ETag is weak, so If-Range names the date; the 206 leaves the date
            // out and brings another weak ETag.
            {"/dropped-date.pdf",
             "W/\"a\"",
             date1,
             {v2_, "W/\"b\"", date2, false, 0, "W/\"b\"", QByteArray()}},
            // The 206 carries no validator at all, so nothing says it is of the version kept.
            {"/no-validator.pdf",
             "\"a\"",
             "\"a\"",
             {v2_, "\"b\"", date2, false, 0, QByteArray(), QByteArray()}},
        };
        for (const Case& c : cases) {
            const QString path = QString::fromLatin1(c.path);
            server_.hostileRange(path, c.server);
            QTemporaryDir dir;
            Job job{server_.url(path), dir.path() + u'/'};
            write(job.part(), v1_.left(50000));
            QVERIFY(WritePartMeta(job.part(), {job.url, c.keptEtag, date1, v1_.size()}));
            const TransferOutcome o = run(job);
            QCOMPARE(o.result, TransferResult::Saved);
            QCOMPARE(o.resumedFrom, 0);
            QCOMPARE(read(job.target()), v2_);
            const auto asked = requestsTo(path);
            QCOMPARE(asked.size(), 2);
            QCOMPARE(asked.at(0).headers.value("if-range"), c.sentIfRange);
            QVERIFY(!asked.at(1).headers.contains("range"));
            QCOMPARE(files(job.folder), QStringList{QStringLiteral("paper.pdf")});
        }
    }

    void aRangePastTheEndIsCheckedAgainstTheKeptPart() {
        // The whole part keeps the type it came with, not the one of the 416's error page.
        server_.route(QStringLiteral("/typed.pdf"), [this](const FixtureServer::Request& request) {
            FixtureServer::Response r;
            r.contentType = request.headers.contains("range") ? "text/html" : "application/pdf";
            r.body = v1_;
            r.etag = "\"t\"";
            return r;
        });
        QTemporaryDir dir;
        Job typed{server_.url(QStringLiteral("/typed.pdf")), dir.path() + u'/'};
        typed.typeFromResponse = true;
        write(typed.part(), v1_);
        QVERIFY(WritePartMeta(
            typed.part(), {typed.url, "\"t\"", {}, v1_.size(), QStringLiteral("application/pdf")}));
        const TransferOutcome whole = run(typed);
        QCOMPARE(whole.result, TransferResult::Saved);
        QCOMPARE(whole.httpStatus, 416);
        QCOMPARE(whole.type, QStringLiteral("pdf"));
        QCOMPARE(files(typed.folder), QStringList{QStringLiteral("paper.pdf")});

        // The file shrank under the same ETag: "bytes */N" names another size, so the
        // kept bytes are not the file and it is fetched again.
        const QByteArray shorter = v1_.left(v1_.size() - 1000) + "\n%%EOF\n";
        server_.route(QStringLiteral("/shrunk.pdf"), [shorter](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.body = shorter;
            r.etag = "\"s\"";
            return r;
        });
        QTemporaryDir other;
        Job shrunk{server_.url(QStringLiteral("/shrunk.pdf")), other.path() + u'/'};
        write(shrunk.part(), v1_);
        QVERIFY(WritePartMeta(shrunk.part(), {shrunk.url, "\"s\"", {}, v1_.size()}));
        const TransferOutcome fresh = run(shrunk);
        QCOMPARE(fresh.result, TransferResult::Saved);
        QCOMPARE(fresh.resumedFrom, 0);
        QCOMPARE(read(shrunk.target()), shorter);
        QCOMPARE(requestsTo(QStringLiteral("/shrunk.pdf")).size(), 2);
    }

    void aWholePartIsPutInPlaceWithoutRefetching() {
        // A crash after the last byte and before the rename: 416 confirms the end.
        QTemporaryDir dir;
        Job job{server_.url(QStringLiteral("/whole.pdf")), dir.path() + u'/'};
        server_.route(QStringLiteral("/whole.pdf"), [this](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.body = v1_;
            r.etag = "\"w\"";
            return r;
        });
        write(job.part(), v1_);
        QVERIFY(WritePartMeta(job.part(), {job.url, "\"w\"", {}, v1_.size()}));
        const TransferOutcome done = run(job);
        QCOMPARE(done.result, TransferResult::Saved);
        QCOMPARE(done.httpStatus, 416);
        QCOMPARE(read(job.target()), v1_);
        QCOMPARE(files(job.folder), QStringList{QStringLiteral("paper.pdf")});
    }

    void anotherProgramsPartIsLeftAlone() {
        QTemporaryDir dir;
        Job job{server_.url(QStringLiteral("/whole.pdf")), dir.path() + u'/'};
        write(job.part(), "theirs");
        PartFile theirs(job.part());
        QVERIFY(theirs.open());
        const TransferOutcome refused = run(job);
        QCOMPARE(refused.result, TransferResult::WriteFailed);
        QVERIFY(!refused.errorText.isEmpty());
        QCOMPARE(read(job.part()), QByteArray("theirs"));
        QVERIFY(!QFile::exists(job.target()));
        theirs.close();

        // Nor does a body follow a link planted under the part's name.
        QTemporaryDir elsewhere;
        const QString victim = elsewhere.filePath(QStringLiteral("victim"));
        write(victim, "untouched");
        QFile::remove(job.part());
        QVERIFY(QFile::link(victim, job.part()));
        QCOMPARE(run(job).result, TransferResult::WriteFailed);
        QCOMPARE(read(victim), QByteArray("untouched"));
        QFile::remove(job.part());

        // A pipe planted as the resume record is not read (which would wait for a
        // writer forever); the download starts over instead.
        QVERIFY(::mkfifo(QFile::encodeName(PartMetaPath(job.part())).constData(), 0600) == 0);
        write(job.part(), v1_.left(1000));
        QCOMPARE(run(job).result, TransferResult::Saved);
        QCOMPARE(read(job.target()), v1_);
        QFile::remove(job.target());

        // Nor into a pipe or a folder planted as the part: a pipe would take the body
        // until it fills and then hold the download forever.
        const QByteArray partName = QFile::encodeName(job.part());
        QVERIFY(::mkfifo(partName.constData(), 0600) == 0);
        const TransferOutcome piped = run(job);
        QCOMPARE(piped.result, TransferResult::WriteFailed);
        QVERIFY(!piped.errorText.isEmpty());
        QVERIFY(!QFile::exists(job.target()));
        QVERIFY(::unlink(partName.constData()) == 0); // left as it was, for its owner
        QVERIFY(QDir(job.folder).mkdir(QFileInfo(job.part()).fileName()));
        QCOMPARE(run(job).result, TransferResult::WriteFailed);
        QVERIFY(QFileInfo(job.part()).isDir());
        QVERIFY(!QFile::exists(job.target()));
    }

    // The part stays locked until it stands under the target's name: a second
    // download of the address that got hold of it in between would otherwise
    // append to the finished file.
    void thePartIsHeldUntilItIsInPlace() {
        server_.route(QStringLiteral("/held.pdf"), [this](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.body = v1_;
            r.etag = "\"h\"";
            return r;
        });
        QTemporaryDir dir;
        Job job{server_.url(QStringLiteral("/held.pdf")), dir.path() + u'/'};
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watch >= 0);
        QVERIFY(::inotify_add_watch(watch, QFile::encodeName(dir.path()).constData(),
                                    IN_CLOSE_WRITE | IN_MOVED_FROM) >= 0);
        QCOMPARE(run(job).result, TransferResult::Saved);
        QStringList seen;
        alignas(inotify_event) char events[64 * 1024];
        for (;;) {
            const ssize_t n = ::read(watch, events, sizeof events);
            if (n <= 0)
                break;
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(events + at);
                const QString name = QString::fromLocal8Bit(e->len ? e->name : "");
                seen.append(((e->mask & IN_MOVED_FROM) ? QStringLiteral("moved ")
                                                       : QStringLiteral("closed ")) +
                            name);
                at += ssize_t(sizeof(inotify_event)) + e->len;
            }
        }
        ::close(watch);
        const QString part = QFileInfo(job.part()).fileName();
        // Closed (and with it unlocked) only under its new name, after the move.
        QVERIFY2(!seen.contains(QStringLiteral("closed ") + part), qPrintable(seen.join(u',')));
        const qsizetype moved = seen.indexOf(QStringLiteral("moved ") + part);
        QVERIFY2(moved >= 0, qPrintable(seen.join(u',')));
        QVERIFY2(seen.indexOf(QStringLiteral("closed paper.pdf"), moved) > moved,
                 qPrintable(seen.join(u',')));
        QCOMPARE(read(job.target()), v1_);
    }

    void aTasksPartIsRemovedOnlyWhenItIsItsOwn() {
        QTemporaryDir dir;
        const QString url = server_.url(QStringLiteral("/own.pdf"));
        const QString part = PartPathFor(dir.filePath(QStringLiteral("x.pdf")), url);
        write(part, "kept");
        QVERIFY(WritePartMeta(part, {url, "\"o\"", {}, 100}));
        // Kept for another address: not this task's.
        QVERIFY(!RemoveTaskPartFiles(part, url + QStringLiteral("?other")));
        QVERIFY(QFile::exists(part));
        // Held by a running download: that download's.
        PartFile running(part);
        QVERIFY(running.open());
        QVERIFY(!RemoveTaskPartFiles(part, url));
        QCOMPARE(read(part), QByteArray("kept"));
        QVERIFY(QFile::exists(PartMetaPath(part)));
        running.close();
        QVERIFY(RemoveTaskPartFiles(part, url));
        QVERIFY(files(dir.path()).isEmpty());
        // Without a record, the name tells whose it is.
        write(part, "kept");
        QVERIFY(!RemoveTaskPartFiles(part, url + QStringLiteral("?other")));
        QVERIFY(RemoveTaskPartFiles(part, url));
        QVERIFY(files(dir.path()).isEmpty());
    }

    void closingNeverWaitsForAStuckWorker() {
        auto pool = std::make_unique<TransferPool>(session_, nullptr, StuckTransfer);
        TransferJob job;
        job.owner = 1;
        job.url = QUrl(server_.url(QStringLiteral("/whole.pdf")));
        job.reservations = std::make_shared<NameReservations>();
        const std::shared_ptr<TransferTicket> ticket = pool->start(job);
        QVERIFY(StuckEntered.try_acquire_for(std::chrono::seconds(10)));
        const auto grace = std::chrono::milliseconds(1500);
        std::thread disk([grace] {
            std::this_thread::sleep_for(TimeLimits::ShutdownWait + grace);
            StuckReleased.release();
        });
        QElapsedTimer clock;
        clock.start();
        pool.reset(); // what closing the window does
        const qint64 took = clock.elapsed();
        disk.join();
        QVERIFY2(took < TimeLimits::ShutdownWait.count() + 700, qPrintable(QString::number(took)));
        // The worker then ends on its own without reporting to the pool that is gone.
        QTRY_VERIFY_WITH_TIMEOUT(ticket->finished.load(), 10000);
        QTest::qWait(100);
    }

    // The new body is on the disk before it takes the place of the user's file: a
    // power cut right after the rename must not leave an empty file there.
    void aReplacementIsDurableBeforeItReplaces() {
        server_.route(QStringLiteral("/synced.pdf"), [this](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.body = v1_;
            return r;
        });
        QTemporaryDir dir;
        Job job{server_.url(QStringLiteral("/synced.pdf")), dir.path() + u'/'};
        write(job.target(), "the user's");
        {
            const std::lock_guard lock(SyncedLock);
            Synced.clear();
        }
        QCOMPARE(run(job).result, TransferResult::Saved);
        QCOMPARE(read(job.target()), v1_);
        const QString part =
            QDir(dir.path()).canonicalPath() + u'/' + QFileInfo(job.part()).fileName();
        const std::lock_guard lock(SyncedLock);
        QVERIFY2(Synced.contains(part), qPrintable(Synced.join(u',')));
    }

    void aFileThatTurnsUpMeanwhileIsKept() {
        const QByteArray body = v1_.left(60000) + "%%EOF\n";
        server_.route(QStringLiteral("/slow.pdf"), [body](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.body = body;
            r.dripBytes = 6000;
            r.dripDelayMs = 30;
            return r;
        });
        const auto userSaves = [](const Job& job) {
            return [&job](TransferPool&, std::shared_ptr<TransferTicket>) {
                write(job.target(), "the user's");
            };
        };
        for (const QString& policy : {DuplicateNamePolicies::Rename, DuplicateNamePolicies::Skip,
                                      DuplicateNamePolicies::Overwrite}) {
            QTemporaryDir dir;
            Job job{server_.url(QStringLiteral("/slow.pdf")), dir.path() + u'/'};
            job.policy = policy;
            const TransferOutcome o = run(job, userSaves(job));
            if (policy == DuplicateNamePolicies::Rename) {
                QCOMPARE(o.result, TransferResult::Saved);
                QCOMPARE(o.name, QStringLiteral("paper[001]"));
                QCOMPARE(read(job.folder + QStringLiteral("paper[001].pdf")), body);
                QCOMPARE(read(job.target()), QByteArray("the user's"));
            } else if (policy == DuplicateNamePolicies::Skip) {
                QCOMPARE(o.result, TransferResult::Exists);
                QCOMPARE(read(job.target()), QByteArray("the user's"));
                QCOMPARE(files(job.folder), QStringList{QStringLiteral("paper.pdf")});
            } else {
                QCOMPARE(o.result, TransferResult::Saved);
                QCOMPARE(read(job.target()), body);
            }
        }
    }

    void stoppingKeepsAResumablePart() {
        server_.route(QStringLiteral("/stopme.pdf"), [this](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.body = v1_;
            r.etag = "\"s\"";
            r.dripBytes = 4000;
            r.dripDelayMs = 30;
            return r;
        });
        QTemporaryDir dir;
        Job job{server_.url(QStringLiteral("/stopme.pdf")), dir.path() + u'/'};
        const TransferOutcome stopped =
            run(job, [](TransferPool& pool, auto ticket) { pool.cancel(ticket); });
        QCOMPARE(stopped.result, TransferResult::Cancelled);
        QVERIFY(stopped.partKept);
        QVERIFY(!QFile::exists(job.target()));
        QVERIFY(QFile::exists(job.part()));
    }

    void errorAnswersAndLimits() {
        server_.route(QStringLiteral("/busy.pdf"), [](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.status = 503;
            r.headers.append(qMakePair(QByteArray("Retry-After"), QByteArray("120")));
            r.body = "<html><head><title>busy</title></head><body>later</body></html>";
            return r;
        });
        QTemporaryDir dir;
        Job busy{server_.url(QStringLiteral("/busy.pdf")), dir.path() + u'/'};
        const TransferOutcome later = run(busy);
        QCOMPARE(later.result, TransferResult::HttpError);
        QCOMPARE(later.httpStatus, 503);
        QCOMPARE(later.retryAfterSeconds, 120);
        QVERIFY(later.errorText.contains(QStringLiteral("503")));
        QVERIFY(files(busy.folder).isEmpty());
        const QDateTime now =
            QDateTime::fromString(QStringLiteral("2024-01-01T00:00:00Z"), Qt::ISODate);
        QCOMPARE(ParseRetryAfter("Mon, 01 Jan 2024 00:01:30 GMT", now), 90);
        QCOMPARE(ParseRetryAfter("soon", now), -1);

        // An encoded body is measured as it is written, not by its compressed length.
        server_.route(QStringLiteral("/packed.pdf"), [this](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.body = v1_;
            r.gzip = true;
            return r;
        });
        Job packed{server_.url(QStringLiteral("/packed.pdf")), dir.path() + u'/'};
        packed.maxMB = 100000 / 1048576.0;
        QCOMPARE(run(packed).result, TransferResult::TooBig);
        QVERIFY(files(packed.folder).isEmpty());

        // The limit counts megabytes with fractions, never rounded to whole bytes, and
        // 0 is no limit at all.
        server_.route(QStringLiteral("/sized.pdf"), [this](const FixtureServer::Request& request) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            // A whole PDF of the asked size, its end marker included.
            r.body = v1_.left(request.query.section(u'&', 0, 0).toInt() - 6) + "%%EOF\n";
            r.sendLength = !request.query.contains(QStringLiteral("nolength"));
            return r;
        });
        struct Limit {
            const char* query;
            double mb;
            TransferResult expected;
        };
        for (const Limit& l : {Limit{"104858", 0.1, TransferResult::TooBig},
                               Limit{"104857", 0.1, TransferResult::Saved},
                               Limit{"104858&nolength", 0.1, TransferResult::TooBig},
                               Limit{"1000", 1e-7, TransferResult::TooBig},
                               Limit{"1000&nolength", 1e-7, TransferResult::TooBig},
                               Limit{"104858", 0, TransferResult::Saved},
                               Limit{"104858&nolength", 0, TransferResult::Saved}}) {
            QTemporaryDir limited;
            Job sized{server_.url(QStringLiteral("/sized.pdf?") + QLatin1String(l.query)),
                      limited.path() + u'/'};
            sized.maxMB = l.mb;
            QVERIFY2(run(sized).result == l.expected, l.query);
            QCOMPARE(files(sized.folder).size(), l.expected == TransferResult::Saved ? 1 : 0);
        }
    }
};

QM_TEST_GUILESS_MAIN(TestTransferCore)
#include "tst_transfer_core.moc"
