#include "fixture_server.h"
#include "test_main.h"

#include <QDir>
#include <QFile>
#include <QProcess>
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
