#include "fixture_server.h"
#include "test_main.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

// quillmarsh-cli harvest: result pages to PDF files, headless.
class TestCliHarvest : public QObject {
    Q_OBJECT

    QStringList run(const QStringList& args, int* exitCode, QByteArray* errors = nullptr) {
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUILLMARSH_TIME_SCALE"), QStringLiteral("0.05"));
        cli.setProcessEnvironment(env);
        cli.start(QStringLiteral(QUILLMARSH_CLI), QStringList{QStringLiteral("harvest")} + args);
        [&] { QTRY_VERIFY_WITH_TIMEOUT(cli.state() == QProcess::NotRunning, 180000); }();
        *exitCode = cli.exitCode();
        if (errors)
            *errors = cli.readAllStandardError();
        return QString::fromUtf8(cli.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }

    // One hit of a result page.
    static QByteArray block(const QString& title, const QString& link, bool ticked) {
        return QStringLiteral("<div class='result'><input type='checkbox'%1><a href='#'>a</a>"
                              "<h3>%2</h3><a title='Full text' href=\"javascript:go('%3')\">"
                              "</a></div>")
            .arg(ticked ? QStringLiteral(" checked") : QString(), title, link)
            .toUtf8();
    }

private slots:
    void theDemoSiteFromResultPagesToFiles() {
        FixtureServer server;
        server.setRoot(QStringLiteral(QUILLMARSH_DEMO_SITE));
        QVERIFY(server.start());
        QTemporaryDir dir;
        int code = -1;
        QByteArray errors;
        const QStringList lines =
            run({server.url(QStringLiteral("/index.html")), QStringLiteral("--dir"), dir.path()},
                &code, &errors);
        QCOMPARE(code, 1); // one record has no PDF
        QCOMPARE(lines.size(), 24);
        for (const QString& line : lines)
            QCOMPARE(line.count(u'\t'), 7);
        const QString pdf4 =
            QStringLiteral(QUILLMARSH_DEMO_SITE "/www.sciencedirect.com/pdf/0004.pdf");
        QCOMPARE(
            lines.at(3),
            QStringLiteral("成功\tCatalytic CO2 hydrogenation to methanol over Cu/ZnO catalysts\t%1"
                           "\t已完成\t%2\t100%\tpdf\t%3/Catalytic CO2 hydrogenation to methanol "
                           "over CuZnO catalysts.pdf")
                .arg(server.url(QStringLiteral("/www.sciencedirect.com/pdf/0004.pdf")))
                .arg(QFileInfo(pdf4).size())
                .arg(dir.path()));
        QCOMPARE(lines.at(17),
                 QStringLiteral("失败\tSoil-structure interaction of pile foundations "
                                "under seismic loading\t\t\t\t\t\t"));
        QCOMPARE(lines.filter(QStringLiteral("\t已完成\t")).size(), 23);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 23);
        QVERIFY(errors.contains(QStringLiteral("分析 24/24").toUtf8()));
        QVERIFY(errors.contains("总数:23"));
    }

    // A result site of its own: the same PDF behind two records, ticked hits
    // only, names from the addresses, one transfer at a time.
    void anotherSiteWithItsOwnOptions() {
        FixtureServer server;
        QVERIFY(server.start());
        server.page(QStringLiteral("/r/1"), "<html><body>" +
                                                block("First", "/link.springer.com/a", true) +
                                                block("Unticked", "/link.springer.com/u", false) +
                                                "<a href='/r/2'>Next &gt;</a></body></html>");
        server.page(QStringLiteral("/r/2"), "<html><body>" + block("Second", "/redirect/b", true) +
                                                block("Third", "/www.sciencedirect.com/c", true) +
                                                "</body></html>");
        const QByteArray springer = "<a href='/files/paper-1.pdf'>Download PDF"
                                    "<span class='download-pdf-size'>1 MB</span></a>";
        server.page(QStringLiteral("/link.springer.com/a"),
                    "<html><body>" + springer + "</body></html>");
        server.redirect(QStringLiteral("/redirect/b"), QStringLiteral("/link.springer.com/b"));
        server.page(QStringLiteral("/link.springer.com/b"),
                    "<html><body>" + springer + "</body></html>");
        server.page(QStringLiteral("/www.sciencedirect.com/c"),
                    "<html><head><meta name='citation_pdf_url' content='/files/c.pdf?dl=1'></head>"
                    "<body></body></html>");
        for (const char* file : {"/files/paper-1.pdf", "/files/c.pdf"}) {
            server.route(QString::fromLatin1(file), [](const FixtureServer::Request&) {
                FixtureServer::Response r;
                r.contentType = "application/pdf";
                r.body = "%PDF-1.4\n% test\n%%EOF\n";
                return r;
            });
        }
        QTemporaryDir dir;
        int code = -1;
        const QStringList lines =
            run({server.url(QStringLiteral("/r/1")), QStringLiteral("--checked-only"),
                 QStringLiteral("--original-names"), QStringLiteral("--method"),
                 QStringLiteral("1"), QStringLiteral("--dir"), dir.path()},
                &code);
        QCOMPARE(code, 0);
        const QString paper = server.url(QStringLiteral("/files/paper-1.pdf"));
        const QString done = QStringLiteral("\t已完成\t22\t100%\tpdf\t") + dir.path();
        QCOMPARE(lines, (QStringList{
                            QStringLiteral("成功\tFirst\t") + paper + done + "/paper-1.pdf",
                            QStringLiteral("成功\tSecond\t") + paper + done + "/paper-1.pdf",
                            QStringLiteral("成功\tThird\t") + server.url("/files/c.pdf?dl=1") +
                                done + "/c.pdf",
                        }));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);

        int usage = 0;
        run({}, &usage);
        QCOMPARE(usage, 2);
        run({QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("--threads"),
             QStringLiteral("9")},
            &usage);
        QCOMPARE(usage, 2);
    }

    // The PDF is served only with the cookie its landing page set: the downloads
    // carry the browser's cookies, as in the windows.
    void downloadsCarryTheLandingPagesCookies() {
        FixtureServer server;
        QVERIFY(server.start());
        server.page(QStringLiteral("/r/1"), "<html><body>" +
                                                block("Locked", "/link.springer.com/locked", true) +
                                                "</body></html>");
        server.route(QStringLiteral("/link.springer.com/locked"),
                     [](const FixtureServer::Request&) {
                         FixtureServer::Response r;
                         r.headers.append(qMakePair(QByteArray("Set-Cookie"),
                                                    QByteArray("access=granted-42; Path=/")));
                         r.body = "<html><body><a href='/files/locked.pdf'>Download PDF"
                                  "<span class='download-pdf-size'>1 MB</span></a></body></html>";
                         return r;
                     });
        server.route(QStringLiteral("/files/locked.pdf"), [](const FixtureServer::Request& q) {
            FixtureServer::Response r;
            if (!q.headers.value("cookie").contains("access=granted-42")) {
                r.status = 403;
                r.body = "<html><body>Sign in first</body></html>";
                return r;
            }
            r.contentType = "application/pdf";
            r.body = "%PDF-1.4\n% locked\n%%EOF\n";
            return r;
        });
        QTemporaryDir dir;
        for (const char* method : {"1", "2"}) {
            int code = -1;
            const QStringList lines =
                run({server.url(QStringLiteral("/r/1")), QStringLiteral("--method"),
                     QString::fromLatin1(method), QStringLiteral("--dir"), dir.path()},
                    &code);
            QCOMPARE(code, 0);
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines.first().contains(QStringLiteral("\t已完成\t24\t100%\tpdf\t")),
                     qPrintable(lines.first()));
        }
    }
};

QM_TEST_GUI_MAIN(TestCliHarvest)
#include "tst_cli_harvest.moc"
