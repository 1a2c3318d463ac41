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
#include <QFile>
#include <QTemporaryDir>

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
        qint64 maxBytes = 0;
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
        job.naming = {j.folder, j.name, QStringLiteral("pdf"), j.policy, false};
        job.maxBytes = j.maxBytes;
        job.reservations = std::make_shared<NameReservations>();
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

    void partsWithoutASafeValidatorAreNotKept() {
        for (const char* route : {"/weak.pdf", "/none.pdf", "/zipped.pdf"}) {
            QTemporaryDir dir;
            const QString path = QString::fromLatin1(route);
            Job job{server_.url(path), dir.path() + u'/'};
            cutOnce(path,
                    path == u"/weak.pdf"     ? "W/\"w\""
                    : path == u"/zipped.pdf" ? "\"z\""
                                             : "",
                    5000, path == u"/zipped.pdf");
            const TransferOutcome cut = run(job);
            // A PDF cut before its announced length says so; a compressed one had
            // no length of its own announced.
            const TransferResult expected =
                path == u"/zipped.pdf" ? TransferResult::Incomplete : TransferResult::TruncatedPdf;
            QVERIFY2(cut.result == expected,
                     qPrintable(QString::fromLatin1(route) + u' ' + cut.errorText +
                                QString::number(int(cut.result)) + u' ' +
                                QString::number(cut.bytes)));
            QVERIFY(!cut.partKept);
            QVERIFY2(files(job.folder).isEmpty(), qPrintable(files(job.folder).join(u' ')));
        }
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
        packed.maxBytes = 100000;
        QCOMPARE(run(packed).result, TransferResult::TooBig);
        QVERIFY(files(packed.folder).isEmpty());
    }
};

QM_TEST_GUILESS_MAIN(TestTransferCore)
#include "tst_transfer_core.moc"
