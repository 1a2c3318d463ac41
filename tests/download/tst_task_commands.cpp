#include "download/row_file_types.h"
#include "download/task_commands.h"
#include "download/url_replace.h"
#include "scripted_prompter.h"
#include "test_main.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

namespace {

void Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestTaskCommands : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString folder() const { return dir_.path() + u'/'; }

    int add(TaskListModel& m, const QString& name, const QString& type, TaskState state,
            const QString& size = {}, const QString& received = {}) {
        m.appendTask(QStringLiteral("http://h/") + name, name, type, folder());
        const int row = m.count();
        m.setState(row, state);
        m.setCell(row, TaskListModel::SizeColumn, size);
        m.setCell(row, TaskListModel::ReceivedColumn, received);
        return row;
    }

    static QStringList names(const TaskListModel& m) {
        QStringList n;
        for (int row = 1; row <= m.count(); ++row)
            n << m.task(row).name;
        return n;
    }

private slots:
    void shuffleMovesPickedRowsToTheEnd() {
        TaskListModel m;
        for (const char* n : {"a", "b", "c", "d"})
            add(m, QString::fromLatin1(n), QStringLiteral("pdf"), TaskState::Waiting);
        m.setCell(2, TaskListModel::MarkerColumn, QStringLiteral("Y"));
        // Always the last unmoved row: the order reverses.
        ShuffleTasks(m, [](int n) { return n; });
        QCOMPARE(names(m), (QStringList{QStringLiteral("d"), QStringLiteral("c"),
                                        QStringLiteral("b"), QStringLiteral("a")}));
        QCOMPARE(m.task(3).marker, QStringLiteral("Y"));
        QCOMPARE(m.rowOf(QStringLiteral("http://h/a")), 4);

        TaskListModel one;
        add(one, QStringLiteral("solo"), QStringLiteral("pdf"), TaskState::Done);
        ShuffleTasks(one, UniformPick());
        QCOMPARE(names(one), QStringList{QStringLiteral("solo")});

        // At most 10000 moves; the rows never picked keep their order at the top.
        TaskListModel big;
        QList<DownloadTask> list;
        for (int i = 0; i < 10005; ++i) {
            DownloadTask t;
            t.url = QString::number(i);
            t.name = t.url;
            list.append(t);
        }
        big.appendTasks(list);
        int draws = 0;
        ShuffleTasks(big, [&draws](int) {
            ++draws;
            return 1;
        });
        QCOMPARE(draws, MaxShuffleMoves);
        QCOMPARE(big.task(1).name, QStringLiteral("10000"));
        QCOMPARE(big.task(6).name, QStringLiteral("0"));

        // The same draws give the order of moving each picked row to the end one by one.
        for (int rows : {1, 2, 7, 300, 12000}) {
            TaskListModel m;
            QList<DownloadTask> list;
            for (int i = 0; i < rows; ++i) {
                DownloadTask t;
                t.url = QString::number(i);
                t.name = t.url;
                list.append(t);
            }
            m.appendTasks(list);
            QRandomGenerator random{quint32(rows)};
            QList<int> picks;
            ShuffleTasks(m, [&](int n) {
                picks.append(int(random.bounded(n)) + 1);
                return picks.last();
            });
            QStringList expected;
            for (int i = 0; i < rows; ++i)
                expected.append(QString::number(i));
            int moved = 0;
            for (int r : picks) {
                expected.append(expected.takeAt(r - 1));
                ++moved;
            }
            QCOMPARE(moved, std::min(rows, int(MaxShuffleMoves)));
            QCOMPARE(names(m), expected);
        }
    }

    void requeueCommandsPickTheirRows() {
        TaskListModel m;
        add(m, QStringLiteral("donePdf"), QStringLiteral("pdf"), TaskState::Done,
            QStringLiteral("1"));
        add(m, QStringLiteral("doneHtm"), QStringLiteral("htm"), TaskState::Done,
            QStringLiteral("1"));
        add(m, QStringLiteral("failedPdf"), QStringLiteral("pdf"), TaskState::Failed);
        add(m, QStringLiteral("waiting"), QStringLiteral("pdf"), TaskState::Waiting);
        RequeueFailedAndWebPages(m);
        QCOMPARE(m.task(1).state, TaskState::Done);
        QCOMPARE(m.task(2).state, TaskState::Waiting);
        QCOMPARE(m.task(2).type, QStringLiteral("xxx"));
        QCOMPARE(m.task(3).state, TaskState::Waiting);

        TaskListModel s;
        add(s, QStringLiteral("small"), QStringLiteral("pdf"), TaskState::Done,
            QStringLiteral("12,345"), QStringLiteral("12,345"));
        add(s, QStringLiteral("partial"), QStringLiteral("pdf"), TaskState::Failed,
            QStringLiteral("12,345"), QStringLiteral("100"));
        add(s, QStringLiteral("big"), QStringLiteral("pdf"), TaskState::Done,
            QStringLiteral("60000"), QStringLiteral("60000"));
        add(s, QStringLiteral("waiting"), QStringLiteral("pdf"), TaskState::Waiting,
            QStringLiteral("5"), QStringLiteral("5"));
        QVERIFY(!ParseSizeLimit(QString()));
        QVERIFY(!ParseSizeLimit(QStringLiteral("abc")));
        RequeueSmallerThan(s, *ParseSizeLimit(QStringLiteral(" 50000 ")));
        QCOMPARE(s.task(1).state, TaskState::Waiting);
        QCOMPARE(s.task(2).state, TaskState::Failed);
        QCOMPARE(s.task(3).state, TaskState::Done);
        QCOMPARE(s.task(4).size, QStringLiteral("5"));

        TaskListModel sel;
        add(sel, QStringLiteral("w"), QStringLiteral("pdf"), TaskState::Waiting);
        add(sel, QStringLiteral("d"), QStringLiteral("pdf"), TaskState::Done, QStringLiteral("3"));
        add(sel, QStringLiteral("f"), QStringLiteral("pdf"), TaskState::Failed);
        RequeueSelected(sel, {1, 2});
        QCOMPARE(sel.task(2).state, TaskState::Waiting);
        QCOMPARE(sel.task(3).state, TaskState::Failed);
        CancelWaiting(sel, {1, 2, 3});
        QCOMPARE(sel.task(1).state, TaskState::Failed);
        QCOMPARE(sel.task(2).state, TaskState::Failed);
        QCOMPARE(sel.task(3).state, TaskState::Failed);
    }

    void deleteFilesTouchesOnlyTheNamedFiles() {
        TaskListModel m;
        add(m, QStringLiteral("page"), QStringLiteral("HTML"), TaskState::Done, QStringLiteral("4"),
            QStringLiteral("4"));
        add(m, QStringLiteral("feed"), QStringLiteral("xml"), TaskState::Failed,
            QStringLiteral("4"));
        add(m, QStringLiteral("paper"), QStringLiteral("pdf"), TaskState::Done,
            QStringLiteral("4"));
        add(m, QStringLiteral("later"), QStringLiteral("htm"), TaskState::Waiting);
        for (const char* f : {"page.HTML", "feed.xml", "paper.pdf", "later.htm", "page.pdf"})
            Write(folder() + QString::fromLatin1(f), "x");
        for (int row : {1, 2, 3, 4})
            m.editTask(row, [](DownloadTask& t) { t.savedPath = t.filePath(); });
        DeleteFilesWhere(m, [](const DownloadTask& t) {
            const QString type = t.type.toLower();
            return (type == u"htm" || type == u"html" || type == u"xml") && IsDoneOrFailed(t);
        });
        QVERIFY(!QFile::exists(folder() + QStringLiteral("page.HTML")));
        QVERIFY(!QFile::exists(folder() + QStringLiteral("feed.xml")));
        QVERIFY(QFile::exists(folder() + QStringLiteral("paper.pdf")));
        QVERIFY(QFile::exists(folder() + QStringLiteral("later.htm")));
        QVERIFY(QFile::exists(folder() + QStringLiteral("page.pdf")));
        QCOMPARE(m.task(1).state, TaskState::Done);
        QCOMPARE(m.task(1).size, QString());
        QCOMPARE(m.count(), 4);
    }

    void namesExport() {
        TaskListModel m;
        add(m, QStringLiteral("一"), QStringLiteral("pdf"), TaskState::Done);
        add(m, QStringLiteral("two"), QStringLiteral("pdf"), TaskState::Failed);
        QCOMPARE(TaskNamesText(m, false), QStringLiteral("一\r\ntwo\r\n").toUtf8());
        QCOMPARE(TaskNamesText(m, true), QByteArray("two\r\n"));
        m.setState(2, TaskState::Done);
        QCOMPARE(TaskNamesText(m, true), QByteArray());
    }

    void openCommandsReportMissingAndLargeFiles() {
        TaskListModel m;
        add(m, QStringLiteral("missing"), QStringLiteral("pdf"), TaskState::Done);
        add(m, QStringLiteral("big"), QStringLiteral("txt"), TaskState::Done);
        add(m, QStringLiteral("limit"), QStringLiteral("txt"), TaskState::Done);
        Write(folder() + QStringLiteral("big.txt"), QByteArray(3 * 1024 * 1024, 'a'));
        Write(folder() + QStringLiteral("limit.txt"), QByteArray(2048 * 1024, 'a'));
        ScriptedPrompter prompter;
        OpenTaskFile(m.task(1), prompter);
        OpenTaskInTextEditor(m.task(1), prompter);
        OpenTaskInTextEditor(m.task(2), prompter);
        QCOMPARE(prompter.messages(),
                 (QStringList{QStringLiteral("该文件不存在！"), QStringLiteral("该文件不存在！"),
                              QStringLiteral("该文件太大，超过了2M，不便于用记事本打开！")}));
        // Exactly 2048 KB is not too big (no editor on this PATH, so it cannot open).
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(dir_.path()));
        OpenTaskInTextEditor(m.task(3), prompter);
        qputenv("PATH", path);
        QCOMPARE(prompter.messages().last(), QStringLiteral("打开失败！"));

        DownloadTask gone = m.task(1);
        gone.folder = QStringLiteral("/no/such/folder/");
        OpenTaskFolder(gone, prompter);
        QCOMPARE(prompter.messages().last(), QStringLiteral("文件夹不存在！"));
    }

    void urlReplaceIgnoresCaseAndUsesTextsAsTyped() {
        QCOMPARE(ReplaceIgnoringCase(QStringLiteral("http://old.org/OLD/x"), QStringLiteral("OLD"),
                                     QStringLiteral("New")),
                 QStringLiteral("http://New.org/New/x"));
        QCOMPARE(
            ReplaceIgnoringCase(QStringLiteral("aaa"), QStringLiteral("aa"), QStringLiteral("b")),
            QStringLiteral("ba"));
        QCOMPARE(ReplaceIgnoringCase(QStringLiteral("a b"), QStringLiteral(" b"), QString()),
                 QStringLiteral("a"));
        QCOMPARE(
            ReplaceIgnoringCase(QStringLiteral("x"), QStringLiteral("x"), QStringLiteral("xx")),
            QStringLiteral("xx"));

        TaskListModel m;
        m.appendTask(QStringLiteral("http://proxy.old/a"), QStringLiteral("a"),
                     QStringLiteral("pdf"), {}, QStringLiteral("http://PROXY.OLD/ref"));
        m.appendTask(QStringLiteral("http://proxy.old/b"), QStringLiteral("b"),
                     QStringLiteral("pdf"), {});
        QVERIFY(!ReplaceInAllUrls(m, QStringLiteral("Proxy.Old"), QStringLiteral("vpn.new")));
        QCOMPARE(m.task(1).url, QStringLiteral("http://vpn.new/a"));
        QCOMPARE(m.task(1).referer, QStringLiteral("http://vpn.new/ref"));
        QCOMPARE(m.task(2).referer, QString());
        const auto clash = ReplaceInAllUrls(m, QStringLiteral("/b"), QStringLiteral("/a"));
        QCOMPARE(clash.value_or(QString()), QStringLiteral("http://vpn.new/a"));
        QCOMPARE(m.task(2).url, QStringLiteral("http://vpn.new/b"));
    }

    void typeCorrectionMovesFilesByContent() {
        TaskListModel m;
        const QByteArray login = "<html><head><title>Sign in</title></head><body>x</body></html>";
        add(m, QStringLiteral("login"), QStringLiteral("pdf"), TaskState::Done);
        add(m, QStringLiteral("clash"), QStringLiteral("pdf"), TaskState::Done);
        add(m, QStringLiteral("real"), QStringLiteral("PDF"), TaskState::Done);
        add(m, QStringLiteral("gone"), QStringLiteral("pdf"), TaskState::Done);
        Write(folder() + QStringLiteral("login.pdf"), login);
        Write(folder() + QStringLiteral("clash.pdf"), login);
        Write(folder() + QStringLiteral("clash.htm"), "taken");
        Write(folder() + QStringLiteral("real.PDF"), "%PDF-1.4 body");
        QCOMPARE(CorrectAllRowTypes(m), 2);
        QCOMPARE(m.task(1).type, QStringLiteral("htm"));
        QCOMPARE(m.task(1).name, QStringLiteral("login"));
        QCOMPARE(Read(folder() + QStringLiteral("login.htm")), login);
        QCOMPARE(m.task(2).name, QStringLiteral("clash[0001]"));
        QCOMPARE(Read(folder() + QStringLiteral("clash.htm")), QByteArray("taken"));
        QCOMPARE(m.task(3).type, QStringLiteral("PDF"));
        QCOMPARE(CorrectAllRowTypes(m), 0);

        CheckFilesExist(m);
        QCOMPARE(m.task(4).percent, QStringLiteral("不存在"));
        QCOMPARE(m.task(1).percent, QString());
        // The type as the row has it: real.PDF is there, real.pdf would not be.
        QCOMPARE(m.task(3).percent, QString());
    }

    void typeCorrectionLeavesNoRowOwningAFileItDidNotWrite() {
        QTemporaryDir dir;
        const QString f = dir.path() + u'/';
        const QByteArray page = "<html><head><title>t</title></head><body>x</body></html>";
        TaskListModel m;
        const auto addSaved = [&](const QString& key, const QString& name, const QString& type,
                                  const QString& saved) {
            m.appendTask(QStringLiteral("http://h/") + key, name, type, f);
            m.editTask(m.count(), [&saved](DownloadTask& t) {
                t.state = TaskState::Done;
                t.savedPath = saved;
            });
        };
        // Row 1 once wrote y.htm, which the user deleted; row 2's y.pdf is a page
        // and moves to that free name.
        addSaved(QStringLiteral("old"), QStringLiteral("y"), QStringLiteral("htm"),
                 f + QStringLiteral("y.htm"));
        addSaved(QStringLiteral("new"), QStringLiteral("y"), QStringLiteral("pdf"),
                 f + QStringLiteral("y.pdf"));
        Write(f + QStringLiteral("y.pdf"), page);
        QVERIFY(CorrectRowType(m, 2));
        QCOMPARE(m.task(2).savedPath, f + QStringLiteral("y.htm"));
        QCOMPARE(m.task(1).savedPath, QString());
        m.RequeueTask(1);
        QCOMPARE(Read(f + QStringLiteral("y.htm")), page);

        // Row 3 wrote z.pdf; row 4, named alike, moves it away: row 3 no longer
        // owns what may later stand under z.pdf.
        addSaved(QStringLiteral("z1"), QStringLiteral("z"), QStringLiteral("pdf"),
                 f + QStringLiteral("z.pdf"));
        addSaved(QStringLiteral("z2"), QStringLiteral("z"), QStringLiteral("pdf"), QString());
        Write(f + QStringLiteral("z.pdf"), page);
        QVERIFY(CorrectRowType(m, 4));
        QCOMPARE(m.task(3).savedPath, QString());
        Write(f + QStringLiteral("z.pdf"), "the user's");
        m.RequeueTask(3);
        QCOMPARE(Read(f + QStringLiteral("z.pdf")), QByteArray("the user's"));
    }

    void baseReferenceGoesBeforeTheHeadEnd() {
        TaskListModel m;
        m.appendTask(QStringLiteral("http://pub.org/article?id=1"), QStringLiteral("saved"),
                     QStringLiteral("HTM"), folder());
        m.appendTask(QStringLiteral("http://pub.org/2"), QStringLiteral("plain"),
                     QStringLiteral("htm"), folder());
        // GBK bytes must come through untouched.
        const QByteArray page =
            "<html><head><title>\xb2\xe2\xca\xd4</title></HEAD><body>x</body></html>";
        Write(folder() + QStringLiteral("saved.htm"), page);
        Write(folder() + QStringLiteral("plain.htm"), page);
        QVERIFY(!BaseReferenceStep(m, 1)); // no "Y" marker
        m.setCell(1, TaskListModel::MarkerColumn, QStringLiteral("Y"));
        m.setCell(2, TaskListModel::MarkerColumn, QStringLiteral("Y"));
        QVERIFY(BaseReferenceStep(m, 1));
        QCOMPARE(Read(folder() + QStringLiteral("saved.htm")),
                 QByteArray("<html><head><title>\xb2\xe2\xca\xd4</title><Base "
                            "href='http://pub.org/article?id=1'>"
                            "</HEAD><body>x</body></html>"));
        Write(folder() + QStringLiteral("plain.htm"), "<html><body>no head end</body></html>");
        QVERIFY(!BaseReferenceStep(m, 2));
    }
};

QM_TEST_GUILESS_MAIN(TestTaskCommands)
#include "tst_task_commands.moc"
