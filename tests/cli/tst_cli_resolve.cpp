#include "fixture_server.h"
#include "test_main.h"

#include <QProcess>
#include <QProcessEnvironment>

// quillmarsh-cli resolve against the demo site's landing pages, served in this
// process, so the CLI is waited for without blocking the event loop.
class TestCliResolve : public QObject {
    Q_OBJECT

    FixtureServer server_;

    QStringList run(const QStringList& args, int* exitCode) {
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUILLMARSH_TIME_SCALE"), QStringLiteral("0.05"));
        cli.setProcessEnvironment(env);
        cli.start(QStringLiteral(QUILLMARSH_CLI), QStringList{QStringLiteral("resolve")} + args);
        [&] { QTRY_VERIFY_WITH_TIMEOUT(cli.state() == QProcess::NotRunning, 120000); }();
        *exitCode = cli.exitCode();
        return QString::fromUtf8(cli.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase() {
        server_.setRoot(QStringLiteral(QUILLMARSH_DEMO_SITE));
        QVERIFY(server_.start());
    }

    void oneLinePerAddressInOrder() {
        // Landing page -> the PDF its rules give (empty: none).
        const QList<QPair<QString, QString>> pages = {
            {"/www.sciencedirect.com/science/article/pii/S0004.html",
             "/www.sciencedirect.com/pdf/0004.pdf"},
            {"/www.jstage.jst.go.jp/article/jie/95/5/95_5/_article.html",
             "/www.jstage.jst.go.jp/article/jie/95/5/95_5/_pdf"},
            {"/journal.scej.org/article/kakoronbunshu/46/1/46_6/_article.html",
             "/journal.scej.org/article/kakoronbunshu/46/1/46_6/_pdf"},
            {"/kns.cnki.net/kcms/detail/X0007.html",
             "/kns.cnki.net/kcms/download.aspx?filename=X0007&dflag=pdfdown"},
            {"/www.sciencedirect.com/science/article/pii/S0008.html",
             "/www.sciencedirect.com/pdf/0008.pdf"},
            {"/link.springer.com/article/10.1007/s0009.html", "/link.springer.com/pdf/0009.pdf"},
            {"/d.wanfangdata.com.cn/periodical/X0010.html",
             "/f.wanfangdata.com.cn/download/X0010.pdf"},
            {"/jes.ecsdl.org/content/166/X0011.html", "/jes.ecsdl.org/content/166/X0011.full.pdf"},
            {"/iopscience.iop.org/article/10.1088/X0012.html",
             "/iopscience.iop.org/article/10.1088/X0012/pdf"},
            {"/www.maneyonline.com/doi/abs/10.1179/X0013.html",
             "/www.maneyonline.com/doi/pdf/10.1179/X0013"},
            {"/www.hindawi.com/journals/jnm/2016/X0014.html",
             "/downloads.hindawi.com/journals/jnm/2016/X0014.pdf"},
            {"/www.nejm.org/doi/full/10.1056/X0015.html", "/www.nejm.org/doi/pdf/10.1056/X0015"},
            {"/science.sciencemag.org/content/352/X0016.html",
             "/science.sciencemag.org/content/352/X0016.full.pdf"},
            {"/www.mdpi.com/journal/X0017.html", "/www.mdpi.com/pdf/X0017.pdf"},
            {"/www.example-press.org/article/X0018.html", ""},
            {"/linkinghub.elsevier.com/retrieve/pii/S0019", "/www.sciencedirect.com/pdf/0019.pdf"},
            {"/www.tandfonline.com/doi/full/X0020.html", "/www.tandfonline.com/doi/pdf/X0020.pdf"},
            {"/iopscience.iop.org/article/10.1088/slow0021",
             "/iopscience.iop.org/article/10.1088/X0021/pdf"},
            {"/dx.doi.org/10.1021/X0022.html", "/pubs.acs.org/pdf/0022.pdf"},
            {"/onlinelibrary.wiley.com/doi/full/10.1002/w0023.html",
             "/onlinelibrary.wiley.com/pdf/0023.pdf"},
        };
        QStringList args;
        QStringList expected;
        for (const auto& [page, pdf] : pages) {
            args << server_.url(page);
            expected << server_.url(page) + u'\t' + (pdf.isEmpty() ? QString() : server_.url(pdf));
        }
        args << QStringLiteral("http://127.0.0.1:1/unreachable.html");
        expected << QStringLiteral("http://127.0.0.1:1/unreachable.html\t");
        int code = -1;
        const QStringList lines = run(args, &code);
        QCOMPARE(code, 0);
        QCOMPARE(lines, expected);
        // The hidden browser's blocking: no landing page's pictures, fonts or style sheets.
        QCOMPARE(server_.log.filter(QStringLiteral("/assets/")).size(), 0);
    }

    void usage() {
        int code = 0;
        run({}, &code);
        QCOMPARE(code, 2);
    }
};

QM_TEST_GUI_MAIN(TestCliResolve)
#include "tst_cli_resolve.moc"
