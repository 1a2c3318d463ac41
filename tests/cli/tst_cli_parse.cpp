#include "app/site_config.h"
#include "fixture_server.h"
#include "test_main.h"

#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

// quillmarsh-cli parse against pages served on loopback; the server runs in
// this process, so the CLI is waited for without blocking the event loop.
class TestCliParse : public QObject {
    Q_OBJECT

    FixtureServer server_;

    QStringList runParse(const QStringList& args, int* exitCode = nullptr) {
        QProcess cli;
        cli.start(QStringLiteral(QUILLMARSH_CLI), QStringList{QStringLiteral("parse")} + args);
        [&] { QTRY_VERIFY_WITH_TIMEOUT(cli.state() == QProcess::NotRunning, 60000); }();
        if (exitCode)
            *exitCode = cli.exitCode();
        return QString::fromUtf8(cli.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase() {
        server_.setRoot(QStringLiteral(QUILLMARSH_DEMO_SITE));
        QVERIFY(server_.start());
    }

    void printsTitleAndLinkOfEveryHit() {
        int code = -1;
        const QStringList lines = runParse({server_.url(QStringLiteral("/page2.html"))}, &code);
        QCOMPARE(code, 0);
        QCOMPARE(lines.size(), 8);
        QCOMPARE(lines.first(),
                 QStringLiteral(
                     "Corrosion behaviour of duplex stainless steel in chloride solutions\t") +
                     server_.url(QStringLiteral("/link.springer.com/article/10.1007/s0009.html")));
    }

    void gatewayLinksAreRebuilt() {
        const QStringList lines = runParse({server_.url(QStringLiteral("/gateway.html"))});
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0).section(u'\t', 1),
                 server_.url(QStringLiteral("/gw/,DanaInfo=") + SiteConfig::DatabaseHost +
                             QStringLiteral("+paper1.html?doc=1&src=ev")));
    }

    void aLinkTheListHoldsAlreadyIsNotPrintedAgain() {
        server_.page(
            QStringLiteral("/twice.html"),
            "<html><body>"
            "<div class='result'><input type='checkbox'><a>x</a><h3>First</h3>"
            "<a title='Full text' href=\"javascript:f('/same')\"></a></div>"
            "<div class='result'><input type='checkbox'><a>x</a><h3>Again</h3>"
            "<a title='Full text' href=\"javascript:f('/same')\"></a></div>"
            "<div class='result'><input type='checkbox'><a>x</a><h3>Other</h3>"
            "<a title='Full text' href=\"javascript:f('/other')\"></a></div></body></html>");
        QCOMPARE(runParse({server_.url(QStringLiteral("/twice.html"))}),
                 (QStringList{QStringLiteral("First\t") + server_.url(QStringLiteral("/same")),
                              QStringLiteral("Other\t") + server_.url(QStringLiteral("/other"))}));
    }

    void controlCharactersStayInsideTheirField() {
        // A page can put line breaks and tabs into a link; a script reading one hit
        // a line and two columns must not see a second, made-up hit.
        server_.page(QStringLiteral("/breaks.html"),
                     "<html><body>"
                     "<div class='result'><input type='checkbox'><a>x</a><h3>Broken</h3>"
                     "<a title='Full text' href=\"javascript:f('/v&#13;&#10;w&#9;x')\"></a></div>"
                     "</body></html>");
        QCOMPARE(runParse({server_.url(QStringLiteral("/breaks.html"))}),
                 QStringList{QStringLiteral("Broken\t") + server_.url(QString()) +
                             QStringLiteral("/v\\r\\nw\\tx")});
    }

    void checkedOnlyTakesTickedHits() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ticked.html"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<html><body>"
                "<div class='result'><input type='checkbox' checked><a>x</a><h3>Ticked</h3>"
                "<a title='Full text' href=\"javascript:f('/t')\"></a></div>"
                "<div class='result'><input type='checkbox'><a>x</a><h3>Plain</h3>"
                "<a title='Full text' href=\"javascript:f('/p')\"></a></div></body></html>");
        f.close();
        QCOMPARE(runParse({path}).size(), 2);
        const QStringList ticked = runParse({path, QStringLiteral("--checked-only")});
        QCOMPARE(ticked.size(), 1);
        QVERIFY(ticked.first().startsWith(QStringLiteral("Ticked\t")));

        int code = 0;
        runParse({}, &code);
        QCOMPARE(code, 2);
    }

    void aPageThatDoesNotLoadFails() {
        QTcpServer closed; // a port nobody listens on
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString refused = QStringLiteral("http://127.0.0.1:%1/x").arg(closed.serverPort());
        closed.close();
        QTemporaryDir dir;
        for (const QString& target :
             {refused, dir.filePath(QStringLiteral("missing.html")), QStringLiteral("http://"),
              server_.url(QStringLiteral("/no-such-page.html"))}) {
            QProcess cli;
            cli.start(QStringLiteral(QUILLMARSH_CLI), {QStringLiteral("parse"), target});
            QTRY_VERIFY_WITH_TIMEOUT(cli.state() == QProcess::NotRunning, 60000);
            const QString err = QString::fromUtf8(cli.readAllStandardError());
            QVERIFY2(cli.exitCode() == 1, qPrintable(target + u' ' + err));
            QVERIFY2(err.contains(QStringLiteral("did not load")), qPrintable(err));
            QVERIFY2(!err.contains(u'<'), qPrintable(err));
            QCOMPARE(cli.readAllStandardOutput(), QByteArray());
        }
    }
};

QM_TEST_GUI_MAIN(TestCliParse)
#include "tst_cli_parse.moc"
