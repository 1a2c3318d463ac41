#include "download/list_rules.h"
#include "scripted_prompter.h"
#include "test_main.h"

#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

// The download window's rules, without the window.
class TestListRules : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString folder() const { return dir_.path() + u'/'; }

    int add(TaskListModel& m, const QString& name, const QString& type, TaskState state) {
        m.appendTask(QStringLiteral("http://h/") + name, name, type, folder());
        m.setState(m.count(), state);
        return m.count();
    }

    static void write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    static QByteArray read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void menuStatesAndTheCloseQuestion() {
        // The right-click menu follows the run; the menu bar's copy offers everything.
        const ListMenuStates idle = ListMenuStatesFor(true, false);
        QVERIFY(idle.selectAll && idle.clear && idle.clearAll && !idle.stop);
        const ListMenuStates busy = ListMenuStatesFor(true, true);
        QVERIFY(!busy.selectAll && !busy.clear && !busy.clearAll && busy.stop);
        for (bool running : {false, true}) {
            const ListMenuStates bar = ListMenuStatesFor(false, running);
            QVERIFY(bar.selectAll && bar.clear && bar.clearAll && bar.stop);
        }
        DownloadActivity activity;
        QVERIFY(!RunInProgress(activity, false));
        QVERIFY(RunInProgress(activity, true));
        activity.busy = true; // transfers still ending after the tick went off
        QVERIFY(RunInProgress(activity, false));

        TaskListModel tasks;
        activity = {};
        QVERIFY(!CloseNeedsQuestion(activity, tasks, false)); // empty list, no run
        QVERIFY(CloseNeedsQuestion(activity, tasks, true));
        const int row = add(tasks, QStringLiteral("w"), QStringLiteral("pdf"), TaskState::Waiting);
        QVERIFY(CloseNeedsQuestion(activity, tasks, false)); // a waiting row, no run
        tasks.setState(row, TaskState::Done);
        QVERIFY(!CloseNeedsQuestion(activity, tasks, false));
        activity.loadedDownloaders = 1;
        QVERIFY(CloseNeedsQuestion(activity, tasks, false));
        activity = {};
        activity.transferExecuting = true;
        QVERIFY(CloseNeedsQuestion(activity, tasks, false));
    }

    void headerSortFlipsOneOrderForTheWholeList() {
        ScriptedPrompter prompter;
        TaskListModel tasks;
        for (const char* size : {"10", "9", "100"})
            tasks.setCell(
                add(tasks, QString::fromLatin1(size), QStringLiteral("pdf"), TaskState::Done),
                TaskListModel::SizeColumn, QString::fromLatin1(size));
        HeaderSortOrder order;
        QVERIFY(SortTasksByHeader(tasks, order, TaskListModel::SizeColumn, false, prompter));
        QCOMPARE(order.current, Qt::DescendingOrder); // first click: descending
        QCOMPARE(tasks.task(1).size, QStringLiteral("100"));
        QCOMPARE(tasks.task(3).size, QStringLiteral("9"));
        // During a run: refused, and the next click still flips from where it was.
        QVERIFY(!SortTasksByHeader(tasks, order, TaskListModel::NameColumn, true, prompter));
        QCOMPARE(prompter.messages().last(), QStringLiteral("停止下载后方可排序！"));
        QCOMPARE(prompter.shown.last().icon, Prompter::Icon::Information);
        QCOMPARE(order.current, Qt::DescendingOrder);
        QVERIFY(SortTasksByHeader(tasks, order, TaskListModel::SizeColumn, false, prompter));
        QCOMPARE(order.current, Qt::AscendingOrder);       // any header flips it
        QCOMPARE(tasks.task(1).size, QStringLiteral("9")); // 9 before 10, no padding left
        QCOMPARE(tasks.task(2).size, QStringLiteral("10"));
    }

    void clearAndDeleteFiltersWithTheRunningTest() {
        ScriptedPrompter prompter;
        TaskListModel tasks;
        add(tasks, QStringLiteral("a"), QStringLiteral("pdf"), TaskState::Done);
        add(tasks, QStringLiteral("b"), QStringLiteral("pdf"), TaskState::Failed);
        add(tasks, QStringLiteral("c"), QStringLiteral("HTML"), TaskState::Failed);
        add(tasks, QStringLiteral("d"), QStringLiteral("xml"), TaskState::Done);
        add(tasks, QStringLiteral("e"), QStringLiteral("htm"), TaskState::Waiting);
        QVERIFY(!IsWebPageFileTask(tasks.task(1)));
        QVERIFY(IsWebPageFileTask(tasks.task(3)));
        QVERIFY(IsWebPageFileTask(tasks.task(4)));
        QVERIFY(!IsWebPageFileTask(tasks.task(5))); // waiting: not a finished web page

        DownloadActivity activity;
        activity.schedulerOn = true;
        ClearTasksWhere(tasks, activity, prompter, IsFailedTask);
        ClearAllTasks(tasks, activity, prompter);
        QCOMPARE(prompter.messages().count(QStringLiteral("停止下载以后，才能执行此操作！")), 2);
        QCOMPARE(tasks.count(), 5);
        activity = {};
        ClearTasksWhere(tasks, activity, prompter, IsFailedTask); // rows 2 and 3, side by side
        QCOMPARE(tasks.count(), 3);
        QCOMPARE(tasks.task(2).name, QStringLiteral("d"));
        ClearTasksWhere(tasks, activity, prompter, IsDoneTask);
        QCOMPARE(tasks.count(), 1);
        prompter.queue(false);
        ClearAllTasks(tasks, activity, prompter);
        QCOMPARE(prompter.shown.last().text, QStringLiteral("您确定要清空列表的所有信息吗？"));
        QCOMPARE(tasks.count(), 1);
        prompter.queue(true);
        ClearAllTasks(tasks, activity, prompter);
        QCOMPARE(tasks.count(), 0);
    }

    void doubleClickOpensOrQueuesAgain() {
        ScriptedPrompter prompter;
        TaskListModel tasks;
        const int failed =
            add(tasks, QStringLiteral("failed"), QStringLiteral("pdf"), TaskState::Failed);
        tasks.setProgress(failed, QStringLiteral("100"), QStringLiteral("40"),
                          QStringLiteral("40%"));
        write(folder() + QStringLiteral("failed.pdf"), "partial");
        tasks.editTask(failed, [](DownloadTask& t) { t.savedPath = t.filePath(); });
        const int done = add(tasks, QStringLiteral("done"), QStringLiteral("pdf"), TaskState::Done);
        const int twin =
            add(tasks, QStringLiteral("twin"), QStringLiteral("pdf"), TaskState::Failed);
        tasks.setName(twin, QStringLiteral("done")); // same name as the finished row
        const int waiting =
            add(tasks, QStringLiteral("waiting"), QStringLiteral("pdf"), TaskState::Waiting);

        ActivateTask(tasks, failed, prompter);
        QVERIFY(!QFile::exists(folder() + QStringLiteral("failed.pdf")));
        QCOMPARE(tasks.task(failed).state, TaskState::Waiting);
        QCOMPARE(tasks.task(failed).size + tasks.task(failed).received + tasks.task(failed).percent,
                 QString());

        ActivateTask(tasks, done, prompter); // its file is gone
        QCOMPARE(prompter.messages(), QStringList{QStringLiteral("文件不存在！")});
        QCOMPARE(prompter.shown.last().icon, Prompter::Icon::Critical);
        QCOMPARE(tasks.task(done).state, TaskState::Done);

        // Another row's file of the same name is not this row's to delete.
        write(folder() + QStringLiteral("done.pdf"), "finished");
        ActivateTask(tasks, twin, prompter);
        QCOMPARE(tasks.task(twin).state, TaskState::Waiting);
        QCOMPARE(read(folder() + QStringLiteral("done.pdf")), QByteArray("finished"));

        ActivateTask(tasks, waiting, prompter);
        ActivateTask(tasks, 99, prompter);
        QCOMPARE(tasks.task(waiting).state, TaskState::Waiting);
        QCOMPARE(prompter.shown.size(), 1);
    }

    void nameExportAsksAndTellsWhyItFailed() {
        ScriptedPrompter prompter;
        TaskListModel tasks;
        ExportTaskNames(tasks, false, prompter); // empty list: no dialog at all
        QVERIFY(prompter.shown.isEmpty());
        add(tasks, QStringLiteral("one"), QStringLiteral("pdf"), TaskState::Done);
        add(tasks, QStringLiteral("two"), QStringLiteral("pdf"), TaskState::Failed);

        const QString out = folder() + QStringLiteral("names.txt");
        prompter.queue(QVariant()); // cancelled
        ExportTaskNames(tasks, false, prompter);
        QVERIFY(!QFile::exists(out));
        prompter.queue(out);
        ExportTaskNames(tasks, false, prompter);
        QCOMPARE(read(out), QByteArray("one\r\ntwo\r\n"));
        prompter.queue(out);
        prompter.queue(false); // do not replace it
        ExportTaskNames(tasks, true, prompter);
        QCOMPARE(read(out), QByteArray("one\r\ntwo\r\n"));
        prompter.queue(out);
        prompter.queue(true);
        ExportTaskNames(tasks, true, prompter);
        QCOMPARE(read(out), QByteArray("two\r\n"));

        // A folder that cannot exist (its parent is a file): the reason, not the path.
        write(folder() + QStringLiteral("plain"), "x");
        const QString impossible = folder() + QStringLiteral("plain/names.txt");
        QSaveFile probe(impossible);
        QVERIFY(!probe.open(QIODevice::WriteOnly));
        prompter.queue(impossible);
        ExportTaskNames(tasks, false, prompter);
        QCOMPARE(prompter.shown.last().kind, QStringLiteral("message"));
        QCOMPARE(prompter.shown.last().icon, Prompter::Icon::Critical);
        QCOMPARE(prompter.shown.last().text, probe.errorString());
        QVERIFY(!prompter.shown.last().text.isEmpty());
        QVERIFY(!prompter.shown.last().text.contains(impossible));
        QCOMPARE(prompter.pendingAnswers(), 0);
    }

    void onlyWebAddressesGoToTheBrowser() {
        QCOMPARE(BrowserAddressIn(QStringLiteral(" http://example.org/a?b=1 ")),
                 QUrl(QStringLiteral("http://example.org/a?b=1")));
        QVERIFY(BrowserAddressIn(QStringLiteral("HTTPS://example.org/")).isValid());
        for (const char* text :
             {"/home/user/12345/paper.pdf", "file:///etc/passwd", "完成下载:paper",
              "javascript:alert(1)", "ftp://example.org/x", "http://", "", "www.example.org"})
            QVERIFY2(!BrowserAddressIn(QString::fromUtf8(text)).isValid(), text);
    }
};

QM_TEST_GUILESS_MAIN(TestListRules)
#include "tst_list_rules.moc"
