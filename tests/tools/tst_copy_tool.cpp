#include "copy_fixture.h"
#include "scripted_prompter.h"
#include "settings/folder_history.h"
#include "settings/settings_store.h"
#include "test_main.h"
#include "tools/copy_job.h"
#include "tools/file_copy.h"
#include "web_test.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>

#include <sys/resource.h>

namespace {

// A source that takes seconds to copy: a large sparse file. Files of this
// process may not grow beyond a limit meanwhile, so a copy that failed to stop
// ends there instead of filling the disk.
class SlowSource {
public:
    explicit SlowSource(const QString& path) {
        std::signal(SIGXFSZ, SIG_IGN);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(qint64(4) << 30));
        ::getrlimit(RLIMIT_FSIZE, &before_);
        rlimit limit = before_;
        limit.rlim_cur = 512 * 1024 * 1024;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~SlowSource() { ::setrlimit(RLIMIT_FSIZE, &before_); }

private:
    rlimit before_{};
};

// Runs hold once while its next message is on screen.
class HoldingPrompter : public ScriptedPrompter {
public:
    std::function<void()> hold;
    void message(const QString& text, Icon icon, const QString& title = {}) override {
        ScriptedPrompter::message(text, icon, title);
        if (auto run = std::exchange(hold, nullptr))
            run();
    }
};

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
        // The second press comes once the first file is done; the folder went bad
        // meanwhile, yet the press still stops the run. "开始" pressed again while
        // the run stops starts nothing.
        int started = 0;
        connect(&job, &CopyJob::fileStarted, this, [&](int index) {
            ++started;
            if (index != 2)
                return;
            job.destinationText = dir_.filePath(QStringLiteral("stop/src/f0.dat/x"));
            job.执行(true);
            QVERIFY(job.running() && job.stopping());
            job.destinationText = dst;
            job.执行(true);
            QVERIFY(job.stopping());
        });
        Await(job.执行(true));
        QTest::qWait(100); // a second loop, had one started, would be copying now
        QVERIFY(!job.running() && !job.stopping());
        QCOMPARE(started, 2);
        QCOMPARE(Names(dst), QStringList{QStringLiteral("f0.dat")});
        QCOMPARE(Read(dst + QStringLiteral("f0.dat")), Read(files.at(0)));
        QCOMPARE(prompter.messages(), (QStringList{QStringLiteral("创建文件夹出错！"),
                                                   QStringLiteral("复制文件完成！")}));
        QCOMPARE(progress.first(), qMakePair(0, 11));
        QCOMPARE(progress.last(), qMakePair(0, 11));

        // Stop and Start while a big file is on its way: the stop ends that file at
        // once (nothing under any name, no temporary file) and no second run begins.
        const QString big = src + QStringLiteral("big.dat");
        const SlowSource slow(big);
        const QString dst3 = dir_.filePath(QStringLiteral("stop/dst3/"));
        ScriptedPrompter inFlight;
        CopyJob busy(store, inFlight);
        busy.files = {big, files.at(1)};
        busy.destinationText = dst3;
        connect(&busy, &CopyJob::fileStarted, this, [&](int index) {
            if (index != 1)
                return;
            QTimer::singleShot(0, this, [&] {
                busy.执行(true);
                QVERIFY(busy.stopping());
                busy.执行(true);
            });
        });
        Await(busy.执行(true));
        QTest::qWait(100);
        QVERIFY(!busy.running());
        QCOMPARE(Names(dst3), QStringList());
        QCOMPARE(inFlight.messages(), QStringList{QStringLiteral("复制文件完成！")});

        // The run ends while the stop press still shows a message about the folder
        // (a part of the name it had to drop): that press starts no new run.
        HoldingPrompter holding;
        CopyJob ending(store, holding);
        const QString dst4 = dir_.filePath(QStringLiteral("stop/dst4/"));
        ending.files = {files.at(0), files.at(1)};
        ending.destinationText = dst4;
        holding.hold = [&] { QTRY_VERIFY(!ending.running()); };
        connect(&ending, &CopyJob::fileStarted, this, [&](int index) {
            if (index != 2)
                return;
            QTimer::singleShot(0, this, [&] {
                ending.destinationText = dst4 + QStringLiteral("*");
                ending.执行(true);
            });
        });
        Await(ending.执行(true));
        QTest::qWait(100);
        QVERIFY(!ending.running());
        QCOMPARE(holding.messages(),
                 (QStringList{QStringLiteral("文件夹名称有误！不能创建文件夹！"),
                              QStringLiteral("复制文件完成！")}));
        QCOMPARE(Names(dst4), (QStringList{QStringLiteral("f0.dat"), QStringLiteral("f1.dat")}));

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

        // A stop between two chunks of one file: nothing under any name.
        const QString dst2 = folder + QStringLiteral("dst2/");
        QDir().mkpath(dst2);
        int asked = 0;
        const CopyResult stopped = CopyInto(folder + QStringLiteral("big.bin"), dst2,
                                            SameNameRule::Rename, [&asked] { return ++asked > 2; });
        QCOMPARE(stopped.outcome, CopyOutcome::Stopped);
        QCOMPARE(asked, 3);
        QCOMPARE(Names(dst2), QStringList());

        // The job goes away in the middle of a file: its thread is not waited for,
        // drops the copy by itself and leaves nothing behind.
        SettingsStore store(dir_.filePath(QStringLiteral("half.ini")));
        ScriptedPrompter prompter;
        const SlowSource slow(folder + QStringLiteral("large.bin"));
        const QString dst3 = folder + QStringLiteral("dst3/");
        auto* job = new CopyJob(store, prompter);
        job->files = {folder + QStringLiteral("large.bin")};
        job->destinationText = dst3;
        connect(job, &CopyJob::fileStarted, this,
                [job] { QTimer::singleShot(0, job, [job] { delete job; }); });
        job->执行(true);
        QTest::qWait(300);
        QTRY_COMPARE(Names(dst3), QStringList());
        QVERIFY(prompter.shown.isEmpty());
    }
};

QM_TEST_GUILESS_MAIN(TestCopyTool)
#include "tst_copy_tool.moc"
