#include "download/task_list.h"
#include "test_main.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

void Touch(const QString& path) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x");
}

} // namespace

class TestTaskList : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString folder() const { return dir_.path() + u'/'; }

    void add(TaskListModel& m, const QString& name, const QString& type, TaskState state,
             const QString& size = {}, const QString& received = {}, const QString& percent = {}) {
        QVERIFY(m.appendTask(QStringLiteral("http://h/") + name, name, type, folder()));
        const int row = m.count();
        m.setState(row, state);
        m.setCell(row, TaskListModel::SizeColumn, size);
        m.setCell(row, TaskListModel::ReceivedColumn, received);
        m.setCell(row, TaskListModel::PercentColumn, percent);
    }

private slots:
    void rowsColumnsAndKeys() {
        TaskListModel m;
        QCOMPARE(m.columnCount(), 7);
        QStringList headers;
        for (int c = 0; c < m.columnCount(); ++c)
            headers << m.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        QCOMPARE(headers, (QStringList{QStringLiteral("名称"), QStringLiteral("类型"),
                                       QStringLiteral("文件大小"), QStringLiteral("已下载数"),
                                       QStringLiteral("百分比"), QStringLiteral("保存路径"),
                                       QStringLiteral("B")}));
        QCOMPARE(TaskListModel::ColumnWidthTwips(TaskListModel::SizeColumn), 1940);
        QVERIFY(m.appendTask(QStringLiteral("http://a/1.pdf"), QStringLiteral("one"),
                             QStringLiteral("pdf"), QStringLiteral("/d/"),
                             QStringLiteral("http://ref/")));
        QVERIFY(!m.appendTask(QStringLiteral("http://a/1.pdf"), QStringLiteral("again"),
                              QStringLiteral("pdf"), {}));
        QCOMPARE(m.count(), 1);
        const DownloadTask& t = m.task(1);
        QCOMPARE(t.state, TaskState::Waiting);
        QCOMPARE(t.referer, QStringLiteral("http://ref/"));
        QCOMPARE(t.filePath(), QStringLiteral("/d/one.pdf"));
        QCOMPARE(m.rowOf(QStringLiteral("http://a/1.pdf")), 1);
        const QModelIndex size = m.index(0, TaskListModel::SizeColumn);
        QVERIFY(m.data(size, Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight);
        QCOMPARE(m.data(m.index(0, 0), TaskListModel::StateRole).toInt(), 1);
        m.setCell(1, TaskListModel::TypeColumn, QString());
        QCOMPARE(m.task(1).filePath(), QStringLiteral("/d/one"));
        QCOMPARE(TaskStateWord(TaskState::Failed), QStringLiteral("失败"));
    }

    void queriesCountInOnePass() {
        TaskListModel m;
        QCOMPARE(m.统计未下载项数目(), 0);
        QVERIFY(m.检测是否下载列表完毕());
        QCOMPARE(m.TaskCountsText(), QStringLiteral("总数:0 正在下载:0 等待:0 已完成:0 失败:0"));

        add(m, QStringLiteral("a"), QStringLiteral("pdf"), TaskState::Waiting);
        add(m, QStringLiteral("b"), QStringLiteral("pdf"), TaskState::Waiting,
            QStringLiteral("等待重新下载"));
        add(m, QStringLiteral("c"), QStringLiteral("pdf"), TaskState::Done, QStringLiteral("5"),
            QStringLiteral("5"), QStringLiteral("已存在，跳过"));
        add(m, QStringLiteral("d"), QStringLiteral("HTML"), TaskState::Failed);
        add(m, QStringLiteral("e"), QStringLiteral("htm"), TaskState::Done, QStringLiteral("1"),
            QStringLiteral("1"), QStringLiteral("100%"));
        add(m, QStringLiteral("f"), QStringLiteral("pdf"), TaskState::Downloading,
            QStringLiteral("9"));
        QCOMPARE(m.统计未下载项数目(), 2); // a and d: every progress cell empty
        QVERIFY(!m.检测是否下载列表完毕());
        QCOMPARE(m.CountProblemTasks(), 2); // d once, e
        QCOMPARE(m.TaskCountsText(), QStringLiteral("总数:6 正在下载:1 等待:2 已完成:2 失败:1"));
        for (int row : {1, 2, 6})
            m.setState(row, TaskState::Done);
        QVERIFY(m.检测是否下载列表完毕());
    }

    void requeueDeletesTheFileAndResetsTheRow() {
        TaskListModel m;
        add(m, QStringLiteral("page"), QStringLiteral("html"), TaskState::Done,
            QStringLiteral("10"), QStringLiteral("10"), QStringLiteral("100%"));
        add(m, QStringLiteral("data"), QStringLiteral("xml"), TaskState::Failed);
        add(m, QStringLiteral("paper"), QStringLiteral("pdf"), TaskState::Failed,
            QStringLiteral("10"));
        add(m, QStringLiteral("keep"), QStringLiteral("pdf"), TaskState::Done, QStringLiteral("3"));
        for (const char* f :
             {"page.html", "data.xml", "paper.pdf", "keep.pdf", "page.xxx", "other.html"})
            Touch(folder() + QString::fromLatin1(f));
        // The first three wrote their files; keep.pdf's file is the user's own.
        for (int row : {1, 2, 3})
            m.editTask(row, [](DownloadTask& t) { t.savedPath = t.filePath(); });

        m.RequeueTask(1);
        QCOMPARE(m.task(1).state, TaskState::Waiting);
        QCOMPARE(m.task(1).type, QStringLiteral("xxx"));
        QCOMPARE(m.task(1).size, QString());
        QCOMPARE(m.task(1).percent, QString());
        QVERIFY(!QFile::exists(folder() + QStringLiteral("page.html")));
        QCOMPARE(m.task(1).savedPath, QString());
        // A file under the placeholder type was never this task's: it stays.
        QVERIFY(QFile::exists(folder() + QStringLiteral("page.xxx")));

        m.RequeueWebPageTasks(); // the xml row too, its own file first
        QCOMPARE(m.task(2).type, QStringLiteral("xxx"));
        QCOMPARE(m.task(2).state, TaskState::Waiting);
        QVERIFY(!QFile::exists(folder() + QStringLiteral("data.xml")));
        QCOMPARE(m.task(3).state, TaskState::Failed);

        // A wait the server once named for the row does not hold back a retry asked for now.
        m.editTask(
            3, [](DownloadTask& t) { t.notBefore = QDateTime::currentDateTime().addSecs(600); });
        m.RequeueFailedTasks();
        QCOMPARE(m.task(3).state, TaskState::Waiting);
        QVERIFY(!m.task(3).notBefore.isValid());
        QCOMPARE(m.task(3).type, QStringLiteral("pdf"));
        QVERIFY(!QFile::exists(folder() + QStringLiteral("paper.pdf")));
        // Nothing else was touched.
        QVERIFY(QFile::exists(folder() + QStringLiteral("keep.pdf")));
        QVERIFY(QFile::exists(folder() + QStringLiteral("other.html")));
        QCOMPARE(m.task(4).state, TaskState::Done);
    }

    void sortingPadsNumbersButKeepsTheCells() {
        TaskListModel m;
        add(m, QStringLiteral("ten"), QStringLiteral("pdf"), TaskState::Done, QStringLiteral("10"),
            {}, QStringLiteral("100%"));
        add(m, QStringLiteral("nine"), QStringLiteral("pdf"), TaskState::Done, QStringLiteral("9"),
            {}, QStringLiteral("已存在，跳过"));
        add(m, QStringLiteral("note"), QStringLiteral("pdf"), TaskState::Waiting,
            QStringLiteral("未知"), {}, QStringLiteral("9%"));
        m.sortByColumn(TaskListModel::SizeColumn, Qt::AscendingOrder);
        QCOMPARE(m.task(1).name, QStringLiteral("nine"));
        QCOMPARE(m.task(2).name, QStringLiteral("ten"));
        QCOMPARE(m.task(1).size, QStringLiteral("9"));
        QCOMPARE(m.task(2).size, QStringLiteral("10"));
        QCOMPARE(m.rowOf(QStringLiteral("http://h/ten")), 2);

        m.sortByColumn(TaskListModel::PercentColumn, Qt::DescendingOrder);
        QCOMPARE(m.task(1).percent, QStringLiteral("已存在，跳过"));
        QCOMPARE(m.task(2).percent, QStringLiteral("100%"));
        QCOMPARE(m.task(3).percent, QStringLiteral("9%"));

        m.sortByColumn(TaskListModel::NameColumn, Qt::AscendingOrder);
        QCOMPARE(m.task(1).name, QStringLiteral("nine"));
    }

    void bulkChangesAnnounceOnlyWhatChanged() {
        TaskListModel m;
        QList<DownloadTask> batch;
        for (int i = 0; i < 8; ++i) {
            DownloadTask t;
            t.url = QStringLiteral("http://h/%1").arg(i);
            t.name = QString::number(i);
            t.id = 77; // ids are the list's to give
            batch.append(t);
        }
        batch.append(batch.first()); // a key listed twice goes in once
        QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
        QCOMPARE(m.appendTasks(batch), 8);
        QCOMPARE(m.appendTasks({batch.first()}), 0);
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(m.rowOfId(m.task(8).id), 8);
        QVERIFY(m.task(1).id != m.task(2).id);

        // A view's selection, as a persistent index on rows 3 and 6 (names 2 and 5).
        QItemSelectionModel selection(&m);
        selection.select(m.index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        selection.setCurrentIndex(m.index(5, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
        const auto selected = [&] {
            QStringList names;
            for (const QModelIndex& i : selection.selectedRows())
                names << m.task(i.row() + 1).name;
            names.sort();
            return names;
        };
        QSignalSpy resets(&m, &QAbstractItemModel::modelReset);
        QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
        QSignalSpy layouts(&m, &QAbstractItemModel::layoutChanged);

        // Edits keep keys and ids, and announce the changed rows, in runs.
        const qint64 id4 = m.task(4).id;
        QCOMPARE(m.editRows({4, 5, 7, 99},
                            [](DownloadTask& t) {
                                t.url = QStringLiteral("stolen");
                                t.id = 1;
                                t.percent = QStringLiteral("x");
                            }),
                 3);
        QCOMPARE(m.task(4).url, QStringLiteral("http://h/3"));
        QCOMPARE(m.task(4).id, id4);
        QCOMPARE(changed.size(), 2); // rows 4-5, then row 7
        QCOMPARE(changed.at(0).at(1).toModelIndex().row(), 4);
        changed.clear();
        QCOMPARE(m.editRows([](DownloadTask& t) { t.percent = QStringLiteral("x"); }), 5);
        QCOMPARE(m.editRows([](DownloadTask& t) { t.percent = QStringLiteral("x"); }), 0);
        m.reorder({0, 1, 2, 3, 4, 5, 6, 7}); // nothing moves: nothing said
        m.reorder({0, 0, 2, 3, 4, 5, 6, 7}); // not a permutation: refused
        QCOMPARE(m.task(2).name, QStringLiteral("1"));
        QCOMPARE(layouts.size(), 0);

        // Scattered rows go; the selection stays on its rows.
        m.removeTaskRows({1, 4, 8, 0, 4});
        QCOMPARE(m.count(), 5);
        QCOMPARE(selected(), (QStringList{QStringLiteral("2"), QStringLiteral("5")}));
        QCOMPARE(m.task(selection.currentIndex().row() + 1).name, QStringLiteral("5"));
        QCOMPARE(m.rowOf(QStringLiteral("http://h/5")), 4);
        m.removeTaskRows({2}); // the selected row 2 itself
        QCOMPARE(selected(), QStringList{QStringLiteral("5")});
        m.sortByColumn(TaskListModel::NameColumn, Qt::DescendingOrder);
        QCOMPARE(m.task(1).name, QStringLiteral("6"));
        QCOMPARE(m.task(selection.currentIndex().row() + 1).name, QStringLiteral("5"));
        QCOMPARE(resets.size(), 0);
        m.clear();
        QCOMPARE(m.count(), 0);
        QVERIFY(!selection.currentIndex().isValid());
        QCOMPARE(resets.size(), 0);
    }

    void urlRewritesKeepKeysUnique() {
        TaskListModel m;
        m.appendTask(QStringLiteral("http://a/x"), QStringLiteral("x"), QStringLiteral("pdf"), {},
                     QStringLiteral("http://a/ref"));
        m.appendTask(QStringLiteral("http://b/x"), QStringLiteral("y"), QStringLiteral("pdf"), {});
        const auto clash = m.replaceUrls([](const QString& u) {
            return QString(u).replace(QChar(u'b'), QChar(u'a'), Qt::CaseInsensitive);
        });
        QVERIFY(clash);
        QCOMPARE(m.task(2).url, QStringLiteral("http://b/x"));
        QVERIFY(!m.replaceUrls([](const QString& u) { return u + u'1'; }));
        QCOMPARE(m.task(1).url, QStringLiteral("http://a/x1"));
        QCOMPARE(m.task(1).referer, QStringLiteral("http://a/ref1"));
        QCOMPARE(m.rowOf(QStringLiteral("http://b/x1")), 2);
    }
};

QM_TEST_GUILESS_MAIN(TestTaskList)
#include "tst_task_list.moc"
