#include "../tools/cache_fixture.h"
#include "test_main.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run Cli(const QStringList& arguments) {
    QProcess cli;
    cli.start(QStringLiteral(QUILLMARSH_CLI), arguments);
    Run run;
    if (!cli.waitForFinished(60000))
        return run;
    run.status = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    run.out = QString::fromUtf8(cli.readAllStandardOutput());
    run.err = QString::fromUtf8(cli.readAllStandardError());
    return run;
}

} // namespace

class TestCliCache : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    void listAndClearAnyTree() {
        const QString profile = dir_.filePath(QStringLiteral("profile"));
        const QString entries = profile + QStringLiteral("/Cache/Cache_Data");
        const QString paper = WriteCacheEntry(entries, "1/0/http://h/paper.pdf?id=3", "%PDF-1.4");
        const QString script = WriteCacheEntry(
            entries, "1/0/_dk_http://a.example http://a.example http://cdn.example/lib.js", "js");
        QFile junk(entries + QStringLiteral("/ffffffffffffffff_0"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not an entry");
        junk.close();
        QVERIFY(WriteCookieDatabase(
            profile + QStringLiteral("/Cookies"),
            {{QStringLiteral("sid"), QStringLiteral("127.0.0.1"), QStringLiteral("/")}}));

        const QMap<QString, QString> lines = {
            {QFileInfo(paper).fileName(), QStringLiteral("http://h/paper.pdf?id=3\tpdf\t%1\t%2\n")
                                              .arg(QFileInfo(paper).size())
                                              .arg(paper)},
            {QFileInfo(script).fileName(), QStringLiteral("http://cdn.example/lib.js\tjs\t%1\t%2\n")
                                               .arg(QFileInfo(script).size())
                                               .arg(script)},
            {QStringLiteral("ffffffffffffffff_0"), QStringLiteral("\t\t\t\n")},
        };
        Run run = Cli({QStringLiteral("cache"), QStringLiteral("list"), QStringLiteral("--profile"),
                       profile});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out,
                 lines.values().join(QString()) + QStringLiteral("Cookie:sid@127.0.0.1/\t\t\t\n"));
        QVERIFY(run.err.contains(QStringLiteral("共有4 个文件")));

        const HostileHomes t = MakeHostileHomes(dir_.filePath(QStringLiteral("tree")));
        QFile evil(t.cache + QStringLiteral("/evil\tname\n.pdf"));
        QVERIFY(evil.open(QIODevice::WriteOnly));
        evil.close();
        const QMap<QString, QString> outsideBefore = TreeSnapshot(t.outside);
        run = Cli({QStringLiteral("cache"), QStringLiteral("list"), QStringLiteral("--all-users"),
                   QStringLiteral("--homes"), t.homes});
        QCOMPARE(run.status, 0);
        const QStringList rows = run.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 13);
        QCOMPARE(rows.at(0), QStringLiteral("用户:alice\ttxt\t10\t") + t.cache +
                                 QStringLiteral("/cookies.txt"));
        QCOMPARE(rows.at(2), QStringLiteral("用户:alice\t\t0\t") + t.cache +
                                 QStringLiteral("/evil\\tname\\n.pdf"));
        for (const QString& row : rows)
            QCOMPARE(row.count(u'\t'), 3);

        // Caches behind links (bob's ".cache", dave's home) stay: the clearing says
        // so and fails, naming them.
        run = Cli({QStringLiteral("cache"), QStringLiteral("clear"), QStringLiteral("--profile"),
                   profile, QStringLiteral("--homes"), t.homes});
        QCOMPARE(run.status, 1);
        QVERIFY(run.out.isEmpty());
        QCOMPARE(run.err, QStringLiteral("未能删除: %1/bob/.cache\n未能删除: %1/dave\n"
                                         "浏览器缓存中有 2 个文件未能删除。\n")
                              .arg(t.homes));
        QVERIFY(!QFile::exists(paper) && !QFile::exists(script));
        QVERIFY(junk.exists());
        QVERIFY(QFile::exists(profile + QStringLiteral("/Cookies")));
        QCOMPARE(RelativeEntries(t.cache),
                 (QStringList{QStringLiteral("cookies.txt"), QStringLiteral("sub"),
                              QStringLiteral("sub/notes.TXT")}));
        QCOMPARE(TreeSnapshot(t.outside), outsideBefore);

        // Without them everything goes.
        QVERIFY(QFile::remove(t.homes + QStringLiteral("/dave")));
        QVERIFY(QDir(t.homes + QStringLiteral("/bob")).removeRecursively());
        run = Cli({QStringLiteral("cache"), QStringLiteral("clear"), QStringLiteral("--profile"),
                   profile, QStringLiteral("--homes"), t.homes});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, QStringLiteral("IE缓存清空完毕！\n"));
    }

    void refusesWhatItDoesNotKnow() {
        for (const QStringList& args :
             {QStringList{QStringLiteral("cache")},
              QStringList{QStringLiteral("cache"), QStringLiteral("frob")},
              QStringList{QStringLiteral("cache"), QStringLiteral("clear"),
                          QStringLiteral("--all-users")},
              QStringList{QStringLiteral("cache"), QStringLiteral("list"),
                          QStringLiteral("--bogus")}}) {
            const Run run = Cli(args);
            QCOMPARE(run.status, 2);
            QVERIFY(run.out.isEmpty());
            QVERIFY(run.err.contains(QStringLiteral("Usage: quillmarsh-cli cache")));
        }
        const Run help = Cli({QStringLiteral("cache"), QStringLiteral("--help")});
        QCOMPARE(help.status, 0);
        QVERIFY(help.out.contains(QStringLiteral("--homes DIR")));
    }
};

QM_TEST_GUI_MAIN(TestCliCache)
#include "tst_cli_cache.moc"
