#include "scripted_prompter.h"
#include "settings/folder_history.h"
#include "settings/settings_store.h"
#include "test_main.h"
#include "tools/copy_job.h"
#include "web_test.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <csignal>

#include <sys/resource.h>

namespace {

void Write(const QString& path, const QByteArray& bytes, const QDateTime& modified = {}) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.flush();
    if (modified.isValid())
        f.setFileTime(modified, QFileDevice::FileModificationTime);
}

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QStringList Names(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

} // namespace

class TestCopyTool : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    void splitAndNumberedNames() {
        const QList<QStringList> splits = {
            {QStringLiteral("/a/b/paper.pdf"), QStringLiteral("/a/b/"), QStringLiteral("paper"),
             QStringLiteral("pdf")},
            {QStringLiteral("/a/README"), QStringLiteral("/a/"), QStringLiteral("README"), {}},
            {QStringLiteral("/a/data.backup12"),
             QStringLiteral("/a/"),
             QStringLiteral("data.backup12"),
             {}},
            {QStringLiteral("/a/archive.tar.gz"), QStringLiteral("/a/"),
             QStringLiteral("archive.tar"), QStringLiteral("gz")},
            {QStringLiteral("  /a/ spaced .pdf  "), QStringLiteral("/a/"), QStringLiteral("spaced"),
             QStringLiteral("pdf")},
            {QStringLiteral("/a/.bashrc"), QStringLiteral("/a/"), QStringLiteral(".bashrc"), {}},
            {QStringLiteral("plain.txt"), {}, QStringLiteral("plain"), QStringLiteral("txt")},
        };
        for (const QStringList& s : splits) {
            const SourceParts parts = SplitSourcePath(s.at(0));
            QCOMPARE(parts.folder, s.at(1));
            QCOMPARE(parts.baseName, s.at(2));
            QCOMPARE(parts.extension, s.value(3));
        }

        const QString src = dir_.filePath(QStringLiteral("names/src/"));
        const QString dst = dir_.filePath(QStringLiteral("names/dst/"));
        for (const char* name : {"paper.pdf", "paper[002].pdf", "README", "data.backup12",
                                 "[007].pdf", "x[ 12 ].pdf", "x[1a].pdf", ".notes"})
            Write(src + QString::fromUtf8(name), "new");
        for (const char* name : {"paper.pdf", "paper[001].pdf", "paper[002].pdf", "README",
                                 "data.backup12", "[007].pdf", "x[1a].pdf", ".notes"})
            Write(dst + QString::fromUtf8(name), "old");
        QDir().mkpath(dst + QStringLiteral("README[001]")); // a folder is in the way too

        const QList<QPair<QString, QString>> expected = {
            {QStringLiteral("paper.pdf"), QStringLiteral("paper[003].pdf")},
            {QStringLiteral("paper[002].pdf"), QStringLiteral("paper[003].pdf")},
            {QStringLiteral("README"), QStringLiteral("README[002]")},
            {QStringLiteral("data.backup12"), QStringLiteral("data.backup12[001]")},
            {QStringLiteral("[007].pdf"), QStringLiteral("[007][001].pdf")},
            {QStringLiteral("x[ 12 ].pdf"), QStringLiteral("x.pdf")},
            {QStringLiteral("x[1a].pdf"), QStringLiteral("x[1a][001].pdf")},
            {QStringLiteral(".notes"), QStringLiteral(".notes[001]")},
        };
        for (const auto& [source, target] : expected) {
            const NumberedTarget t = 复制相同文件自动重命名(src + source, dst);
            QVERIFY(t.ok);
            QCOMPARE(t.fileName, target);
            QCOMPARE(t.path, dst + target);
            QCOMPARE(t.baseName, SplitSourcePath(target).baseName);
        }
        QFile::remove(dst + QStringLiteral("paper.pdf"));
        QCOMPARE(复制相同文件自动重命名(src + QStringLiteral("paper[002].pdf"), dst).fileName,
                 QStringLiteral("paper.pdf"));
        QVERIFY(!复制相同文件自动重命名(src + QStringLiteral("gone.pdf"), dst).ok);
    }

    void rulesOnCraftedFolders() {
        const QDateTime t1 = QDateTime::fromSecsSinceEpoch(1600000000);
        const QDateTime t2 = QDateTime::fromSecsSinceEpoch(1600001000);
        const QString src = dir_.filePath(QStringLiteral("rules/src/"));
        Write(src + QStringLiteral("same.bin"), "AAAA", t1);
        Write(src + QStringLiteral("bigger.bin"), "BBBBBB", t1);
        Write(src + QStringLiteral("retimed.bin"), "CCCC", t1);
        Write(src + QStringLiteral("new.bin"), "NEW", t1);
        QFile::setPermissions(src + QStringLiteral("new.bin"), QFileDevice::ReadOwner |
                                                                   QFileDevice::WriteOwner |
                                                                   QFileDevice::ReadGroup);

        // Rule number -> names and contents in the destination afterwards.
        const QList<QPair<int, QStringList>> table = {
            {1,
             {"bigger.bin=yy", "new.bin=NEW", "own.txt=own", "retimed.bin=zzzz", "same.bin=xxxx"}},
            {2,
             {"bigger.bin=BBBBBB", "new.bin=NEW", "own.txt=own", "retimed.bin=CCCC",
              "same.bin=AAAA"}},
            {3,
             {"bigger.bin=yy", "bigger[001].bin=BBBBBB", "new.bin=NEW", "own.txt=own",
              "retimed.bin=zzzz", "retimed[001].bin=CCCC", "same.bin=xxxx", "same[001].bin=AAAA"}},
            {4,
             {"bigger.bin=yy", "bigger[001].bin=BBBBBB", "new.bin=NEW", "own.txt=own",
              "retimed.bin=zzzz", "retimed[001].bin=CCCC", "same.bin=AAAA"}},
            {5,
             {"bigger.bin=yy", "bigger[001].bin=BBBBBB", "new.bin=NEW", "own.txt=own",
              "retimed.bin=CCCC", "same.bin=AAAA"}},
            {9,
             {"bigger.bin=yy", "new.bin=NEW", "own.txt=own", "retimed.bin=zzzz", "same.bin=xxxx"}},
        };
        for (const auto& [rule, after] : table) {
            const QString dst = dir_.filePath(QStringLiteral("rules/dst%1").arg(rule));
            Write(dst + QStringLiteral("/same.bin"), "xxxx", t1);
            Write(dst + QStringLiteral("/bigger.bin"), "yy", t1);
            Write(dst + QStringLiteral("/retimed.bin"), "zzzz", t2);
            Write(dst + QStringLiteral("/own.txt"), "own", t1);

            SettingsStore store(dir_.filePath(QStringLiteral("rules%1.ini").arg(rule)));
            ScriptedPrompter prompter;
            CopyJob job(store, prompter);
            job.load();
            job.files = {src + QStringLiteral("same.bin"),    src + QStringLiteral("bigger.bin"),
                         src + QStringLiteral("retimed.bin"), src + QStringLiteral("vanished.bin"),
                         src + QStringLiteral("new.bin"),     dst + QStringLiteral("/own.txt")};
            job.destinationText = dst;
            job.rule = rule;
            Await(job.执行(true));

            QStringList found;
            for (const QString& name : Names(dst))
                found.append(name + u'=' + QString::fromLatin1(Read(dst + u'/' + name)));
            QCOMPARE(found, after);
            QCOMPARE(prompter.messages(), QStringList{QStringLiteral("复制文件完成！")});
            QCOMPARE(prompter.shown.at(0).icon, Prompter::Icon::Information);
            QCOMPARE(job.files.size(), 5); // the vanished source was dropped
            QCOMPARE(store.text(SettingKeys::CopyTargetFolder()), dst + u'/');
            QCOMPARE(store.text(SettingKeys::CopyOperation()), QString::number(rule));
            QVERIFY(!job.running());
            // Copies keep their source's time and permissions.
            const QFileInfo copy(dst + QStringLiteral("/new.bin"));
            QCOMPARE(copy.lastModified(), t1);
            QCOMPARE(copy.permissions(), QFileInfo(src + QStringLiteral("new.bin")).permissions());
        }
        // Every destination joined the history once.
        QStringList history;
        LoadFolderHistory(history, FolderHistoryPath());
        QCOMPARE(history.size(), table.size());
        QVERIFY(history.contains(dir_.filePath(QStringLiteral("rules/dst4/"))));

        // Copies keep their time, so copying them again under rule 4 makes no new names.
        SettingsStore store(dir_.filePath(QStringLiteral("again.ini")));
        ScriptedPrompter prompter;
        CopyJob job(store, prompter);
        job.load();
        QCOMPARE(job.rule, 4);
        QCOMPARE(job.history, history);
        const QString dst = dir_.filePath(QStringLiteral("rules/dst4/"));
        job.destinationText = dst;
        job.files = {src + QStringLiteral("same.bin"), src + QStringLiteral("new.bin")};
        Await(job.执行(true));
        QCOMPARE(Names(dst).size(), 7);
    }

    void emptyListAndBadFolder() {
        SettingsStore store(dir_.filePath(QStringLiteral("empty.ini")));
        ScriptedPrompter prompter;
        CopyJob job(store, prompter);
        job.rule = 3;
        job.files = {dir_.filePath(QStringLiteral("nothing-here.pdf"))};
        job.destinationText = dir_.filePath(QStringLiteral("made/on/demand"));
        Await(job.执行(true));
        QVERIFY(prompter.shown.isEmpty());
        QVERIFY(QFileInfo(dir_.filePath(QStringLiteral("made/on/demand"))).isDir());
        QCOMPARE(job.destinationText, dir_.filePath(QStringLiteral("made/on/demand/")));
        QCOMPARE(store.text(SettingKeys::CopyOperation()), QStringLiteral("3"));

        Write(dir_.filePath(QStringLiteral("blocker")), "file");
        job.destinationText = dir_.filePath(QStringLiteral("blocker/sub"));
        job.files = {dir_.filePath(QStringLiteral("blocker"))};
        Await(job.执行(true));
        QCOMPARE(prompter.messages(), QStringList{QStringLiteral("创建文件夹出错！")});
        QCOMPARE(prompter.shown.last().icon, Prompter::Icon::Critical);
        QVERIFY(job.destinationText.isEmpty());
    }

    void stopAfterTheCurrentFile() {
        const QString src = dir_.filePath(QStringLiteral("stop/src/"));
        const QString dst = dir_.filePath(QStringLiteral("stop/dst/"));
        QStringList files;
        for (int i = 0; i < 10; ++i) {
            files.append(src + QStringLiteral("f%1.dat").arg(i));
            Write(files.last(), QByteArray(300000, char('a' + i)));
        }
        SettingsStore store(dir_.filePath(QStringLiteral("stop.ini")));
        ScriptedPrompter prompter;
        CopyJob job(store, prompter);
        job.files = files;
        job.destinationText = dst;
        QList<QPair<int, int>> progress;
        connect(&job, &CopyJob::progressChanged, this, [&](int value, int maximum) {
            progress.append({value, maximum});
        });
        // The second press comes while the first file is on its way; the folder
        // went bad meanwhile, yet the press still stops the run.
        connect(&job, &CopyJob::fileStarted, this, [&](int index) {
            if (index != 1)
                return;
            QVERIFY(job.running());
            job.destinationText = dir_.filePath(QStringLiteral("stop/src/f0.dat/x"));
            job.执行(true);
            QVERIFY(!job.running());
        });
        Await(job.执行(true));
        QCOMPARE(Names(dst), QStringList{QStringLiteral("f0.dat")});
        QCOMPARE(Read(dst + QStringLiteral("f0.dat")), Read(files.at(0)));
        QCOMPARE(prompter.messages(), (QStringList{QStringLiteral("创建文件夹出错！"),
                                                   QStringLiteral("复制文件完成！")}));
        QCOMPARE(progress.first(), qMakePair(0, 11));
        QCOMPARE(progress.last(), qMakePair(0, 11));

        // Closing the window mid-run: the file on its way is dropped, nothing else copied.
        const QString dst2 = dir_.filePath(QStringLiteral("stop/dst2/"));
        ScriptedPrompter quiet;
        CopyJob closing(store, quiet);
        closing.files = files;
        closing.destinationText = dst2;
        connect(&closing, &CopyJob::fileStarted, this, [&](int index) {
            if (index == 2)
                closing.cancel();
        });
        Await(closing.执行(true));
        QCOMPARE(Names(dst2), QStringList{QStringLiteral("f0.dat")});
        QVERIFY(quiet.shown.isEmpty());
    }

    void interruptedCopiesLeaveNothingHalfDone() {
        const QString folder = dir_.filePath(QStringLiteral("half/"));
        QByteArray big(5 * 1024 * 1024 + 17, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(big.data()), big.size() / 4);
        Write(folder + QStringLiteral("big.bin"), big);
        Write(folder + QStringLiteral("dst/big.bin"), "old");

        // Several chunks arrive whole.
        QVERIFY(CopyFileReplacing(folder + QStringLiteral("big.bin"),
                                  folder + QStringLiteral("dst/copy.bin")));
        QCOMPARE(Read(folder + QStringLiteral("dst/copy.bin")), big);

        // Stopped: the target is as it was, no temporary file stays.
        const std::atomic<bool> stop{true};
        QVERIFY(!CopyFileReplacing(folder + QStringLiteral("big.bin"),
                                   folder + QStringLiteral("dst/big.bin"), &stop));
        QCOMPARE(Names(folder + QStringLiteral("dst")),
                 (QStringList{QStringLiteral("big.bin"), QStringLiteral("copy.bin")}));
        QCOMPARE(Read(folder + QStringLiteral("dst/big.bin")), QByteArray("old"));

        // A disk that fills up half-way: likewise.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit before{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
        rlimit small = before;
        small.rlim_cur = 1024 * 1024;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool copied = CopyFileReplacing(folder + QStringLiteral("big.bin"),
                                              folder + QStringLiteral("dst/big.bin"));
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &before), 0);
        QVERIFY(!copied);
        QCOMPARE(Read(folder + QStringLiteral("dst/big.bin")), QByteArray("old"));
        QCOMPARE(Names(folder + QStringLiteral("dst")),
                 (QStringList{QStringLiteral("big.bin"), QStringLiteral("copy.bin")}));
    }
};

QM_TEST_GUILESS_MAIN(TestCopyTool)
#include "tst_copy_tool.moc"
