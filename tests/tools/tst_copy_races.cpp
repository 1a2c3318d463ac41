#include "copy_fixture.h"
#include "scripted_prompter.h"
#include "settings/settings_store.h"
#include "test_main.h"
#include "tools/copy_job.h"
#include "tools/file_copy.h"
#include "web_test.h"

#include <QTemporaryDir>

#include <cerrno>

#include <sys/stat.h>

// Sources that are no plain files, and names taken by something else before
// or while a copy is written.
class TestCopyRaces : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    void specialSourcesAndNamesInTheWay() {
        const QString src = dir_.filePath(QStringLiteral("special/src/"));
        Write(src + QStringLiteral("a.bin"), "A");
        Write(src + QStringLiteral("same.bin"), "SAME");
        Write(src + QStringLiteral("gone.bin"), "GONE");
        Write(dir_.filePath(QStringLiteral("special/elsewhere.bin")), "not in the list");
        // A FIFO would block a plain open for ever; a link is not followed.
        QCOMPARE(::mkfifo(QFile::encodeName(src + QStringLiteral("pipe")).constData(), 0600), 0);
        QVERIFY(QFile::link(dir_.filePath(QStringLiteral("special/elsewhere.bin")),
                            src + QStringLiteral("link.bin")));
        const QStringList sources = {
            src + QStringLiteral("pipe"),     src + QStringLiteral("link.bin"),
            QStringLiteral("/dev/null"),      src + QStringLiteral("a.bin"),
            src + QStringLiteral("same.bin"), src + QStringLiteral("gone.bin")};

        // Rule -> what the destination holds afterwards; a folder "same.bin" and a
        // dangling link "gone.bin" are in the way.
        const QList<QPair<int, QStringList>> table = {
            {1, {"a.bin=A", "gone.bin->", "same.bin/"}},
            {2, {"a.bin=A", "gone.bin=GONE", "same.bin/"}},
            {3, {"a.bin=A", "gone.bin->", "gone[001].bin=GONE", "same.bin/", "same[001].bin=SAME"}},
            {5, {"a.bin=A", "gone.bin->", "gone[001].bin=GONE", "same.bin/", "same[001].bin=SAME"}},
        };
        for (const auto& [rule, after] : table) {
            const QString dst = dir_.filePath(QStringLiteral("special/dst%1/").arg(rule));
            QVERIFY(QDir().mkpath(dst + QStringLiteral("same.bin")));
            QVERIFY(QFile::link(dir_.filePath(QStringLiteral("special/nowhere")),
                                dst + QStringLiteral("gone.bin")));
            SettingsStore store(dir_.filePath(QStringLiteral("special%1.ini").arg(rule)));
            ScriptedPrompter prompter;
            CopyJob job(store, prompter);
            job.files = sources;
            job.destinationText = dst;
            job.rule = rule;
            Await(job.执行(true));

            QStringList found;
            for (const QString& name : Names(dst)) {
                const QFileInfo info(dst + name);
                found.append(info.isSymLink() ? name + QStringLiteral("->")
                             : info.isDir()   ? name + u'/'
                                            : name + u'=' + QString::fromLatin1(Read(dst + name)));
            }
            QCOMPARE(found, after);
            QVERIFY(!QFile::exists(dir_.filePath(QStringLiteral("special/nowhere"))));
            // Every source that could not be copied is named, none silently passed over.
            QString expected = QStringLiteral("复制文件完成！\n%1 个文件未能复制：\n"
                                              "pipe：不是普通文件\nlink.bin：不是普通文件\n"
                                              "null：不是普通文件")
                                   .arg(rule == 2 ? 4 : 3);
            if (rule == 2)
                expected += QStringLiteral("\nsame.bin：") + qt_error_string(EISDIR);
            QCOMPARE(prompter.messages(), QStringList{expected});
        }
    }

    void nameTakenWhileTheCopyIsWritten() {
        const QString src = dir_.filePath(QStringLiteral("race/src/"));
        Write(src + QStringLiteral("paper.pdf"), "NEW!");
        auto temporary = [this](const QString& folder) {
            const QString path = folder + QStringLiteral(".paper.pdf-test.part");
            Write(path, "NEW!");
            return path;
        };
        // What appears at the planned name while the copy is written is never
        // overwritten unless the rule says so.
        struct Case {
            int rule;
            QStringList before;  // in the destination when the plan is made
            QStringList appears; // created after the plan, before the copy is placed
            CopyOutcome outcome;
            QStringList after;
        };
        const QList<Case> cases = {
            {1, {}, {"paper.pdf"}, CopyOutcome::Skipped, {"paper.pdf=late"}},
            {3, {}, {"paper.pdf"}, CopyOutcome::Copied, {"paper.pdf=late", "paper[001].pdf=NEW!"}},
            {3,
             {"paper.pdf"},
             {"paper[001].pdf"},
             CopyOutcome::Copied,
             {"paper.pdf=old", "paper[001].pdf=late", "paper[002].pdf=NEW!"}},
            {4,
             {"paper.pdf"},
             {"paper[001].pdf"},
             CopyOutcome::Copied,
             {"paper.pdf=old", "paper[001].pdf=late", "paper[002].pdf=NEW!"}},
            {5,
             {"paper.pdf"},
             {"paper[001].pdf"},
             CopyOutcome::Copied,
             {"paper.pdf=old", "paper[001].pdf=late", "paper[002].pdf=NEW!"}},
            {2, {}, {"paper.pdf"}, CopyOutcome::Copied, {"paper.pdf=NEW!"}},
        };
        int n = 0;
        for (const Case& c : cases) {
            const QString dst = dir_.filePath(QStringLiteral("race/dst%1/").arg(++n));
            QDir().mkpath(dst);
            for (const QString& name : c.before)
                Write(dst + name, "old");
            const SameNameRule rule = SameNameRuleOf(c.rule);
            const CopyPlan plan = PlanCopy(src + QStringLiteral("paper.pdf"), dst, rule);
            QVERIFY(!plan.path.isEmpty());
            for (const QString& name : c.appears)
                Write(dst + name, "late");
            const CopyResult result =
                PlaceCopy(temporary(dst), src + QStringLiteral("paper.pdf"), dst, rule, plan);
            QCOMPARE(result.outcome, c.outcome);
            // No temporary file stays behind either.
            QStringList found;
            for (const QString& name : Names(dst))
                found.append(name + u'=' + QString::fromLatin1(Read(dst + name)));
            QCOMPARE(found, c.after);
        }
    }
};

QM_TEST_GUILESS_MAIN(TestCopyRaces)
#include "tst_copy_races.moc"
