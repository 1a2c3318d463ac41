#include "test_main.h"
#include "tls_server.h"
#include "version.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct Outcome {
    int exitCode = -1;
    bool crashed = true;
    QString out;
    QString err;
};

} // namespace

// Both programs as a user starts them from a plain terminal: no display, no Qt
// or page-engine variables, no XDG_RUNTIME_DIR.
class TestCommandLine : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;

    QProcessEnvironment plainShell() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR",
                                 "QTWEBENGINE_DISABLE_SANDBOX", "QTWEBENGINE_CHROMIUM_FLAGS",
                                 "QT_LOGGING_RULES", "QT_MESSAGE_PATTERN"})
            env.remove(QString::fromLatin1(name));
        // The fallback runtime folder goes below the temporary folder: keep it ours.
        env.insert(QStringLiteral("TMPDIR"), tmp_.path());
        return env;
    }

    // Runs program to its end while this test's event loop keeps serving.
    Outcome run(const QString& program, const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(plainShell());
        process.start(program, arguments);
        Outcome outcome;
        if (!process.waitForStarted(10000))
            return outcome;
        if (!QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; },
                             60000)) {
            process.kill();
            process.waitForFinished();
            return outcome;
        }
        outcome.exitCode = process.exitCode();
        outcome.crashed = process.exitStatus() != QProcess::NormalExit;
        outcome.out = QString::fromUtf8(process.readAllStandardOutput());
        outcome.err = QString::fromUtf8(process.readAllStandardError());
        return outcome;
    }

private slots:
    void desktopProgramAnswersWithoutADisplay() {
        const Outcome version = run(QStringLiteral(QUILLMARSH_GUI), {QStringLiteral("--version")});
        QVERIFY2(!version.crashed, qPrintable(version.err));
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, QStringLiteral("Quillmarsh " QUILLMARSH_VERSION_TEXT "\n"));
        QCOMPARE(version.err, QString());

        const Outcome help = run(QStringLiteral(QUILLMARSH_GUI), {QStringLiteral("-h")});
        QCOMPARE(help.exitCode, 0);
        QVERIFY2(help.out.startsWith(QStringLiteral("Usage: quillmarsh [options]")),
                 qPrintable(help.out));
        QVERIFY(help.out.contains(QStringLiteral("--update-url <URL>")));
        QCOMPARE(help.err, QString());

        for (const char* word : {"-v", "--help-all"}) {
            const Outcome short_ = run(QStringLiteral(QUILLMARSH_GUI), {QString::fromLatin1(word)});
            QCOMPARE(short_.exitCode, 0);
            QVERIFY2(short_.out.startsWith(word[1] == 'v' ? QStringLiteral("Quillmarsh ")
                                                          : QStringLiteral("Usage: quillmarsh")),
                     word);
        }

        // Asked for windows where none can open: a clear message, no crash. Qt's
        // own single-dash options ask for windows too, not for help or the version.
        for (const QStringList& arguments :
             QList<QStringList>{{},
                                {QStringLiteral("-reverse")},
                                {QStringLiteral("-platformtheme"), QStringLiteral("gtk3")},
                                {QStringLiteral("-stylesheet"), QStringLiteral("x.qss")},
                                {QStringLiteral("-style=fusion"), QStringLiteral("-nograb")}}) {
            const Outcome o = run(QStringLiteral(QUILLMARSH_GUI), arguments);
            const QString what = arguments.join(u' ');
            QVERIFY2(!o.crashed, qPrintable(what + u' ' + o.err));
            QCOMPARE(o.exitCode, 1);
            QVERIFY2(o.out.isEmpty(), qPrintable(what + u' ' + o.out));
            QVERIFY2(o.err.contains(QStringLiteral("no display")), qPrintable(what + u' ' + o.err));
        }
    }

    void batchProgramPrintsNoNoise() {
        const QString file = tmp_.filePath(QStringLiteral("paper.pdf"));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("%PDF-1.4\n");
        }
        const Outcome detect =
            run(QStringLiteral(QUILLMARSH_CLI), {QStringLiteral("detect"), file});
        QCOMPARE(detect.exitCode, 0);
        QCOMPARE(detect.out, file + QStringLiteral("\tpdf\n"));
        QCOMPARE(detect.err, QString());

        // The page engine starts for this one.
        const QString page = tmp_.filePath(QStringLiteral("page.html"));
        {
            QFile f(page);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("<html><body><p>no hits</p></body></html>");
        }
        const Outcome parse = run(QStringLiteral(QUILLMARSH_CLI), {QStringLiteral("parse"), page});
        QCOMPARE(parse.exitCode, 0);
        QCOMPARE(parse.out, QString());
        QCOMPARE(parse.err, QString());

        // A page behind an untrusted certificate is refused, and stderr says why.
        TlsFixtureServer tls;
        QVERIFY(tls.start());
        const Outcome refused = run(QStringLiteral(QUILLMARSH_CLI),
                                    {QStringLiteral("parse"), tls.url(QStringLiteral("/r.html"))});
        QVERIFY2(refused.err.contains(QStringLiteral("已拒绝打开“127.0.0.1”的网页")),
                 qPrintable(refused.err));
        QCOMPARE(refused.err.count(QStringLiteral("已拒绝打开")), 1);
        QCOMPARE(refused.exitCode, 1);
        QCOMPARE(refused.out, QString());
        QCOMPARE(tls.requests, 0);
    }
};

QM_TEST_GUILESS_MAIN(TestCommandLine)
#include "tst_command_line.moc"
