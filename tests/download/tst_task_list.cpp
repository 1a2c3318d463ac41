#include "download/task_list.h"
#include "test_main.h"

#include <QDir>
#include <QFile>
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

        m.RequeueFailedTasks();
        QCOMPARE(m.task(3).state, TaskState::Waiting);
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
