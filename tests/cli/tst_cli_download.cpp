#include "fixture_server.h"
#include "test_main.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <csignal>

// quillmarsh-cli download against the in-process fixture server.
class TestCliDownload : public QObject {
    Q_OBJECT

    FixtureServer server_;

    QStringList run(const QStringList& args, int* exitCode, QByteArray* errors = nullptr) {
        QProcess cli;
        cli.start(QStringLiteral(QUILLMARSH_CLI), QStringList{QStringLiteral("download")} + args);
        [&] { QTRY_VERIFY_WITH_TIMEOUT(cli.state() == QProcess::NotRunning, 60000); }();
        *exitCode = cli.exitCode();
        if (errors)
            *errors = cli.readAllStandardError();
        return QString::fromUtf8(cli.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase() {
        server_.setRoot(QStringLiteral(QUILLMARSH_DEMO_SITE));
        QVERIFY(server_.start());
    }

    void printsOneLinePerTaskAndFailsWhenOneFailed() {
        for (const char* method : {"1", "2"}) {
            QTemporaryDir dir;
            int code = -1;
            QByteArray errors;
            const QStringList lines = run(
                {QStringLiteral("--method"), QString::fromLatin1(method), QStringLiteral("--dir"),
                 dir.path(), server_.url(QStringLiteral("/www.sciencedirect.com/pdf/0004.pdf?x=1")),
                 server_.url(QStringLiteral("/page2.html")),
                 server_.url(QStringLiteral("/no/such.pdf"))},
                &code, &errors);
            QCOMPARE(code, 1);
            QCOMPARE(lines.size(), 3);
            const qint64 pdfSize = QFileInfo(QStringLiteral(QUILLMARSH_DEMO_SITE
                                                            "/www.sciencedirect.com/pdf/0004.pdf"))
                                       .size();
            QCOMPARE(
                lines.at(0),
                QStringLiteral("已完成\t%1\t100%\tpdf\t%2/0004.pdf").arg(pdfSize).arg(dir.path()));
            QVERIFY2(lines.at(1).startsWith(QStringLiteral("已完成\t")), qPrintable(lines.at(1)));
            QVERIFY2(lines.at(1).endsWith(QStringLiteral("\thtm\t") + dir.path() +
                                          QStringLiteral("/page2.htm")),
                     qPrintable(lines.at(1)));
            QVERIFY2(lines.at(2).startsWith(QStringLiteral("失败\t")), qPrintable(lines.at(2)));
            QVERIFY(errors.contains("总数:3"));
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
        }
    }

    void aKilledRunIsResumedByTheNext() {
        QByteArray body = "%PDF-1.4\n";
        while (body.size() < 400000)
            body += QByteArray::number(body.size()) + " 0 obj endobj\n";
        body += "%%EOF\n";
        auto first = std::make_shared<bool>(true);
        server_.route(QStringLiteral("/killed.pdf"), [body, first](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.body = body;
            r.etag = "\"k\"";
            if (std::exchange(*first, false)) { // slow enough to be killed half-way
                r.dripBytes = 8000;
                r.dripDelayMs = 40;
            }
            return r;
        });
        QTemporaryDir dir;
        const QStringList args{QStringLiteral("--method"), QStringLiteral("1"),
                               QStringLiteral("--dir"), dir.path(),
                               server_.url(QStringLiteral("/killed.pdf"))};
        QProcess cli;
        cli.start(QStringLiteral(QUILLMARSH_CLI), QStringList{QStringLiteral("download")} + args);
        const auto partFiles = [&dir] {
            return QDir(dir.path()).entryList({QStringLiteral("*.part")}, QDir::Files);
        };
        QTRY_VERIFY_WITH_TIMEOUT(!partFiles().isEmpty() &&
                                     QFileInfo(dir.filePath(partFiles().first())).size() > 50000,
                                 20000);
        ::kill(pid_t(cli.processId()), SIGKILL);
        QVERIFY(cli.waitForFinished(5000));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("killed.pdf"))));
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*.meta")}, QDir::Files).size(), 1);

        int code = -1;
        const QStringList lines = run(args, &code);
        QCOMPARE(code, 0);
        QVERIFY2(lines.value(0).startsWith(QStringLiteral("已完成\t")), qPrintable(lines.value(0)));
        QFile saved(dir.filePath(QStringLiteral("killed.pdf")));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), body);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
                 QStringList{QStringLiteral("killed.pdf")});
        QVERIFY(server_.requests.last().headers.value("range").startsWith("bytes="));
    }

    // A queue kept in a file: each address once, a second run carries on (failed
    // tasks tried again, finished ones left alone) and prints the whole queue.
    void aQueueFileCarriesOn() {
        QTemporaryDir dir;
        const QString queue = dir.filePath(QStringLiteral("queue.sqlite"));
        const QString a = server_.url(QStringLiteral("/www.sciencedirect.com/pdf/0004.pdf"));
        const QString missing = server_.url(QStringLiteral("/no/such/file.pdf"));
        const QString c = server_.url(QStringLiteral("/link.springer.com/pdf/0001.pdf"));
        const QStringList options{QStringLiteral("--queue"), queue, QStringLiteral("--dir"),
                                  dir.path()};
        int code = -1;
        QStringList lines = run(options + QStringList{a, missing, a}, &code);
        QCOMPARE(code, 1);
        QCOMPARE(lines.size(), 2);
        const int servedA =
            int(server_.log.count(QStringLiteral("GET /www.sciencedirect.com/pdf/0004.pdf")));
        const int servedMissing = int(server_.log.count(QStringLiteral("GET /no/such/file.pdf")));

        lines = run(options + QStringList{c, a}, &code);
        QCOMPARE(code, 1);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(0).startsWith(QStringLiteral("已完成\t")));
        QVERIFY(lines.at(1).startsWith(QStringLiteral("失败\t")));
        const qint64 size =
            QFileInfo(QStringLiteral(QUILLMARSH_DEMO_SITE "/link.springer.com/pdf/0001.pdf"))
                .size();
        QCOMPARE(lines.at(2),
                 QStringLiteral("已完成\t%1\t100%\tpdf\t%2/0001.pdf").arg(size).arg(dir.path()));
        QCOMPARE(server_.log.count(QStringLiteral("GET /www.sciencedirect.com/pdf/0004.pdf")),
                 servedA);
        QCOMPARE(server_.log.count(QStringLiteral("GET /no/such/file.pdf")), servedMissing + 1);

        // Without addresses: the queue as it stands.
        lines = run(options, &code);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*.pdf")}, QDir::Files),
                 (QStringList{QStringLiteral("0001.pdf"), QStringLiteral("0004.pdf")}));
    }

    // kill -9 at random moments of a 20-file run, then once more to the end: every
    // file there once and byte for byte, no task lost or doubled, nothing left over.
    void aRunKilledAgainAndAgainLosesNothing() {
        QList<QByteArray> bodies;
        QStringList urls;
        for (int i = 0; i < 20; ++i) {
            QByteArray body = "%PDF-1.4\n% file " + QByteArray::number(i) + '\n';
            while (body.size() < 40000 + 2000 * i)
                body += QByteArray::number(i * 100000 + body.size()) + " 0 obj endobj\n";
            body += "%%EOF\n";
            bodies << body;
            const QString path = QStringLiteral("/crash/paper%1.pdf").arg(i);
            urls << server_.url(path);
            server_.route(path, [body, i](const FixtureServer::Request&) {
                FixtureServer::Response r;
                r.contentType = "application/pdf";
                r.body = body;
                if (i % 2 == 0)
                    r.etag = QByteArray("\"e") + QByteArray::number(i) + '"';
                else
                    r.lastModified = "Wed, 21 Oct 2015 07:28:00 GMT";
                r.dripBytes = 4000;
                r.dripDelayMs = 15;
                return r;
            });
        }
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("papers"));
        const QString queue = dir.filePath(QStringLiteral("queue.sqlite"));
        const QStringList options{QStringLiteral("--queue"),   queue,
                                  QStringLiteral("--dir"),     out,
                                  QStringLiteral("--threads"), QStringLiteral("4")};
        const quint32 seed = QRandomGenerator::global()->generate();
        qInfo("kill times drawn with seed %u", seed);
        QRandomGenerator random(seed);
        int killed = 0;
        for (int attempt = 0; attempt < 12; ++attempt) {
            QProcess cli;
            cli.start(QStringLiteral(QUILLMARSH_CLI),
                      QStringList{QStringLiteral("download")} + options + urls);
            QVERIFY(cli.waitForStarted());
            QTest::qWait(int(random.bounded(100, 900)));
            if (cli.state() == QProcess::Running) {
                ::kill(pid_t(cli.processId()), SIGKILL);
                ++killed;
            }
            QVERIFY(cli.state() == QProcess::NotRunning || cli.waitForFinished(10000));
        }
        QVERIFY(killed > 0);

        int code = -1;
        const QStringList lines = run(options, &code);
        QCOMPARE(code, 0);
        QCOMPARE(lines.size(), 20);
        QStringList expected;
        for (int i = 0; i < 20; ++i) {
            const QString name = QStringLiteral("paper%1.pdf").arg(i);
            expected << name;
            QVERIFY2(lines.contains(QStringLiteral("已完成\t%1\t100%\tpdf\t%2/%3")
                                        .arg(bodies.at(i).size())
                                        .arg(out, name)),
                     qPrintable(lines.join(u'\n')));
            QFile file(out + u'/' + name);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY2(file.readAll() == bodies.at(i), qPrintable(name));
        }
        expected.sort();
        QStringList present = QDir(out).entryList(QDir::Files | QDir::Hidden);
        present.sort();
        QCOMPARE(present, expected);

        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("q"));
        db.setDatabaseName(queue);
        QVERIFY(db.open());
        {
            QSqlQuery query(db);
            QVERIFY(query.exec(
                QStringLiteral("SELECT COUNT(*), COUNT(DISTINCT url), SUM(state = 3) FROM tasks")));
            QVERIFY(query.next());
            QCOMPARE(query.value(0).toInt(), 20);
            QCOMPARE(query.value(1).toInt(), 20);
            QCOMPARE(query.value(2).toInt(), 20);
        }
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("q"));
    }

    void skipPolicyAndBadArguments() {
        QTemporaryDir dir;
        QFile existing(dir.filePath(QStringLiteral("0008.pdf")));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("mine");
        existing.close();
        int code = -1;
        const QStringList lines =
            run({QStringLiteral("--policy"), QStringLiteral("跳过"), QStringLiteral("--dir"),
                 dir.path(), server_.url(QStringLiteral("/www.sciencedirect.com/pdf/0008.pdf"))},
                &code);
        QCOMPARE(code, 0);
        QCOMPARE(lines.value(0),
                 QStringLiteral("已完成\t4\t已存在，跳过\tpdf\t%1/0008.pdf").arg(dir.path()));
        run({QStringLiteral("--method"), QStringLiteral("3"),
             QStringLiteral("http://127.0.0.1:1/x")},
            &code);
        QCOMPARE(code, 2);
        run({}, &code);
        QCOMPARE(code, 2);
    }
};

QM_TEST_GUI_MAIN(TestCliDownload)
#include "tst_cli_download.moc"
