#include "download/part_file.h"
#include "download/task_journal.h"
#include "download/task_list_changes.h"
#include "download/task_rows.h"
#include "storage/list_database.h"
#include "storage/list_store.h"
#include "storage/store_writer.h"
#include "test_main.h"
#include "tools/time_limits.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <numeric>

#include <sys/resource.h>
#include <unistd.h>

// The lists kept in their store: what survives a restart, a crash, damage and a full disk.
class TestListStore : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    int serial_ = 0;

    QString path(const QString& name) const { return dir_.filePath(name); }
    QString freshStore() { return path(QStringLiteral("lists%1.sqlite").arg(++serial_)); }

    static void write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    static QByteArray read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Every task of a list, for comparing a list with the one read back.
    static void sameTasks(const TaskListModel& a, const TaskListModel& b) {
        QCOMPARE(a.count(), b.count());
        for (int row = 1; row <= a.count(); ++row) {
            QVERIFY2(a.task(row) == b.task(row),
                     qPrintable(QStringLiteral("row %1: %2 / %3")
                                    .arg(row)
                                    .arg(a.task(row).url, b.task(row).url)));
        }
    }

    // Runs sql on the store's own connection; its first value.
    static QVariant onStore(ListStore& store, const QString& sql) {
        QVariant value;
        store.writer()->call([&](QSqlDatabase& db) {
            QSqlQuery query(db);
            if (query.exec(sql) && query.next())
                value = query.value(0);
        });
        return value;
    }

    void fill(TaskListModel& tasks, int n, const QString& folder) {
        for (int i = 0; i < n; ++i)
            QVERIFY(tasks.appendTask(QStringLiteral("http://h%1/p/%2.pdf").arg(i % 3).arg(i),
                                     QStringLiteral("paper %1").arg(i), QStringLiteral("pdf"),
                                     folder, QStringLiteral("http://ref/%1").arg(i)));
    }

private slots:
    void initTestCase() { TimeLimits::SetScale(0.01); }

    // Every kind of change reaches the store: what a second program reads back
    // is the list as it was, row for row and field for field, in the same order.
    void theListsAreAsTheyWereAfterARestart() {
        const QString file = freshStore();
        const QString folder = dir_.path() + u'/';
        TaskListModel expected;
        RecordListModel expectedRecords;
        qint64 lastId = 0;
        {
            ListStore store;
            QVERIFY(store.open(file));
            QVERIFY(store.notice().isEmpty());
            TaskListModel& tasks = store.tasks();
            fill(tasks, 30, folder);
            tasks.setState(2, TaskState::Done);
            tasks.setProgress(3, QStringLiteral("100"), QStringLiteral("40"),
                              QStringLiteral("40%"));
            tasks.editTask(4, [](DownloadTask& t) {
                t.state = TaskState::Failed;
                t.result = TaskResult::Failed;
                t.error = QStringLiteral("服务器返回错误：404");
                t.partPath = QStringLiteral("/x/y.part");
                t.notBefore = QDateTime::fromMSecsSinceEpoch(1700000000000);
                t.marker = QStringLiteral("Y");
            });
            tasks.setCell(5, TaskListModel::TypeColumn, QStringLiteral("html"));
            tasks.removeTaskRows({1, 7, 8});
            tasks.sortByColumn(TaskListModel::NameColumn, Qt::DescendingOrder);
            QVERIFY(!tasks.replaceUrls([](const QString& url) {
                return QString(url).replace(QStringLiteral("h1"), QStringLiteral("mirror"));
            }));
            tasks.RequeueFailedTasks();
            QList<int> order(tasks.count());
            std::iota(order.begin(), order.end(), 0);
            std::swap(order[0], order[5]);
            tasks.reorder(order);       // moved
            tasks.removeTaskRows({11}); // removed
            DownloadTask added;         // added
            added.url = QStringLiteral("http://new/1.pdf");
            added.name = QStringLiteral("new");
            QCOMPARE(tasks.appendTasks({added}), 1);
            tasks.editRows({13}, [](DownloadTask& t) { t.percent = QStringLiteral("不存在"); });
            fill(tasks, 2, folder + QStringLiteral("more/")); // both gone by now: added again
            QCOMPARE(tasks.count(), 29);

            RecordListModel& records = store.records();
            for (int i = 0; i < 6; ++i)
                records.加入LV1(QStringLiteral("title %1").arg(i),
                                QStringLiteral("http://l/%1").arg(i), QStringLiteral("pdf"),
                                folder);
            records.setStatus(2, RecordStatus::Found);
            records.removeRecordRows({1, 4});

            expected.loadTasks([&] {
                QList<DownloadTask> all;
                for (int row = 1; row <= tasks.count(); ++row)
                    all.append(tasks.task(row));
                return all;
            }());
            for (int row = 1; row <= records.count(); ++row) {
                const SearchRecord& r = records.record(row);
                expectedRecords.加入LV1(r.title, r.link, r.type, r.folder);
                expectedRecords.setStatus(row, r.status);
            }
            for (int row = 1; row <= tasks.count(); ++row)
                lastId = std::max(lastId, tasks.task(row).id);
            QVERIFY2(store.flush(std::chrono::seconds(10)), qPrintable(store.problem()));
        }
        ListStore again;
        QVERIFY(again.open(file));
        QVERIFY(again.notice().isEmpty());
        sameTasks(expected, again.tasks());
        QCOMPARE(again.records().count(), expectedRecords.count());
        for (int row = 1; row <= expectedRecords.count(); ++row) {
            QCOMPARE(again.records().record(row).link, expectedRecords.record(row).link);
            QCOMPARE(again.records().record(row).status, expectedRecords.record(row).status);
        }
        // New tasks never take an id still listed.
        QVERIFY(again.tasks().appendTask(QStringLiteral("http://later/"), QStringLiteral("l"),
                                         QStringLiteral("pdf"), folder));
        QVERIFY(again.tasks().task(again.tasks().count()).id > lastId);

        // Clearing empties the store as well.
        again.tasks().clear();
        again.records().clear();
        QVERIFY(again.flush(std::chrono::seconds(10)));
        QCOMPARE(onStore(again, QStringLiteral("SELECT COUNT(*) FROM tasks")).toInt(), 0);
        QCOMPARE(onStore(again, QStringLiteral("SELECT COUNT(*) FROM records")).toInt(), 0);
    }

    // A download running when the program was killed waits again and continues its
    // part file; one whose file was already in place is done; an analysis cut off
    // leaves its record unanalysed.
    void whatWasRunningComesBackSafely() {
        const QString file = freshStore();
        QTemporaryDir folder;
        const QString f = folder.path() + u'/';
        const QString placed = f + QStringLiteral("placed.pdf");
        const QString placedPart = PartPathFor(placed, QStringLiteral("http://a/placed"));
        const QString runningPart = f + QStringLiteral("running.pdf.1234abcd.part");
        std::function<bool(const QString&)> lateRecorder;
        {
            ListStore store;
            QVERIFY(store.open(file));
            TaskListModel& tasks = store.tasks();
            for (const char* name : {"running", "placed", "notPlaced", "done"})
                tasks.appendTask(QStringLiteral("http://a/") + QLatin1String(name),
                                 QLatin1String(name), QStringLiteral("pdf"), f);
            const auto downloading = [&](int row, const QString& part) {
                tasks.editTask(row, [&](DownloadTask& t) {
                    t.state = TaskState::Downloading;
                    t.partPath = part;
                    t.size = QStringLiteral("1000");
                    t.received = QStringLiteral("500");
                    t.percent = QStringLiteral("50%");
                });
            };
            downloading(1, runningPart);
            downloading(2, placedPart);
            downloading(3, f + QStringLiteral("notPlaced.pdf.part"));
            tasks.setState(4, TaskState::Done);
            write(runningPart, "half");
            // Task 2's file went in place (its part with it) just before the end;
            // task 3 had only said it would when the rename failed.
            write(placedPart + QStringLiteral(".meta"), "url: http://a/placed\n");
            write(placed, "%PDF-1.4 whole\n%%EOF\n");
            write(f + QStringLiteral("notPlaced.pdf.part"), "body");
            write(f + QStringLiteral("notPlaced.pdf"), "someone else's");
            auto* journal = dynamic_cast<TaskJournal*>(tasks.observer());
            QVERIFY(journal);
            QVERIFY(journal->fileCommitRecorder(tasks.task(2).id)(placed));
            QVERIFY(
                journal->fileCommitRecorder(tasks.task(3).id)(f + QStringLiteral("notPlaced.pdf")));
            lateRecorder = journal->fileCommitRecorder(tasks.task(4).id);
            store.records().加入LV1(QStringLiteral("t"), QStringLiteral("http://l/1"),
                                    QStringLiteral("pdf"), f);
            store.records().setStatus(1, RecordStatus::Analysing);
        }
        // With the store gone a file can no longer be put in place on record.
        QVERIFY(!lateRecorder(f + QStringLiteral("done.pdf")));
        QVERIFY(lateRecorder({}));
        {
            ListStore store;
            QVERIFY(store.open(file));
            const TaskListModel& tasks = store.tasks();
            const DownloadTask& running = tasks.task(1);
            QCOMPARE(running.state, TaskState::Waiting);
            QCOMPARE(running.partPath, runningPart);
            QVERIFY(running.size.isEmpty() && running.received.isEmpty() &&
                    running.percent.isEmpty());
            QCOMPARE(tasks.统计未下载项数目(), 3); // the two waiting again, and "done"
            const DownloadTask& done = tasks.task(2);
            QCOMPARE(done.state, TaskState::Done);
            QCOMPARE(done.result, TaskResult::Saved);
            QCOMPARE(done.savedPath, placed);
            QCOMPARE(done.size, QString::number(read(placed).size()));
            QCOMPARE(done.percent, QStringLiteral("100%"));
            QVERIFY(!QFile::exists(placedPart + QStringLiteral(".meta")));
            QCOMPARE(tasks.task(3).state, TaskState::Waiting);
            QVERIFY(tasks.task(3).savedPath.isEmpty());
            QCOMPARE(read(f + QStringLiteral("notPlaced.pdf")), QByteArray("someone else's"));
            QCOMPARE(tasks.task(4).state, TaskState::Done);
            QCOMPARE(store.records().record(1).status, QString());
        }
        // What was repaired is stored as such: a third start finds the same.
        ListStore third;
        QVERIFY(third.open(file));
        QCOMPARE(third.tasks().task(2).savedPath, placed);
        QCOMPARE(third.tasks().task(1).state, TaskState::Waiting);
    }

    // Progress goes to the store at most once an interval per task; a state change
    // at once, and with it the latest progress.
    void progressIsWrittenAtMostOncePerInterval() {
        // The real interval: the checks below take longer than a scaled one.
        TimeLimits::SetScale(1);
        const auto restore = qScopeGuard([] { TimeLimits::SetScale(0.01); });
        ListStore store;
        QVERIFY(store.open(freshStore()));
        TaskListModel& tasks = store.tasks();
        fill(tasks, 2, dir_.path());
        const auto stored = [&store](int id) {
            store.writer()->flush(std::chrono::seconds(10));
            const QVariant id0 =
                onStore(store, QStringLiteral("SELECT fields FROM tasks WHERE id = %1").arg(id));
            DownloadTask t;
            UnpackTaskFields(id0.toByteArray(), t);
            return t.received;
        };
        const int id1 = int(tasks.task(1).id);
        const int id2 = int(tasks.task(2).id);
        tasks.setProgress(1, QStringLiteral("100"), QStringLiteral("1"), QStringLiteral("1%"));
        QCOMPARE(stored(id1), QStringLiteral("1"));
        tasks.setProgress(1, QStringLiteral("100"), QStringLiteral("2"), QStringLiteral("2%"));
        tasks.setProgress(1, QStringLiteral("100"), QStringLiteral("3"), QStringLiteral("3%"));
        tasks.setProgress(2, QStringLiteral("100"), QStringLiteral("7"), QStringLiteral("7%"));
        QCOMPARE(stored(id1), QStringLiteral("1")); // held back
        QCOMPARE(stored(id2), QStringLiteral("7")); // its own interval
        QTRY_COMPARE(stored(id1), QStringLiteral("3"));
        tasks.setProgress(1, QStringLiteral("100"), QStringLiteral("4"), QStringLiteral("4%"));
        tasks.setState(1, TaskState::Done);
        QCOMPARE(stored(id1), QStringLiteral("4"));
    }

    // A damaged store, something else under its name, or one of a newer program is
    // moved aside untouched; the lists start empty, and that is said once.
    void anUnusableStoreIsSetAsideNeverDeleted() {
        QByteArray damagedPage;
        {
            const QString good = freshStore();
            {
                ListStore store;
                QVERIFY(store.open(good));
                fill(store.tasks(), 300, dir_.path());
            }
            damagedPage = read(good);
            // Scramble the pages past the header: a file SQLite no longer trusts.
            for (qsizetype i = 4096; i < damagedPage.size(); i += 7)
                damagedPage[i] = char(damagedPage[i] ^ 0x5a);
        }
        const QList<QPair<const char*, QByteArray>> cases = {
            {"not a database", QByteArray("this is not a list store\n").repeated(200)},
            {"damaged pages", damagedPage},
        };
        for (const auto& [name, bytes] : cases) {
            const QString file = freshStore();
            write(file, bytes);
            ListStore store;
            QVERIFY2(store.open(file), name);
            QVERIFY2(store.notice().contains(QStringLiteral("已改名保存为")), name);
            QCOMPARE(store.tasks().count(), 0);
            const QStringList aside = QDir(dir_.path())
                                          .entryList({QFileInfo(file).completeBaseName() +
                                                      QStringLiteral(".damaged-*.sqlite")});
            QCOMPARE(aside.size(), 1);
            QCOMPARE(read(dir_.filePath(aside.first())), bytes);
            QVERIFY(store.notice().contains(aside.first()));
            // The new store works, and the next start has nothing to say.
            fill(store.tasks(), 2, dir_.path());
            store.flush(std::chrono::seconds(10));
            ListStore next; // while the first one has it
            QVERIFY(!next.open(file));
            QVERIFY(next.inUse());
            QVERIFY(next.notice().contains(QStringLiteral("另一个Quillmarsh")));
            store.close();
            QVERIFY(next.open(file));
            QVERIFY(next.notice().isEmpty());
            QCOMPARE(next.tasks().count(), 2);
        }

        // A store written by a newer program is not ours to change.
        const QString newer = freshStore();
        {
            ListStore store;
            QVERIFY(store.open(newer));
            fill(store.tasks(), 3, dir_.path());
            store.flush(std::chrono::seconds(10));
            onStore(store,
                    QStringLiteral("UPDATE meta SET value = '99' WHERE key = 'schema_version'"));
        }
        ListStore store;
        QVERIFY(store.open(newer));
        QVERIFY(store.notice().contains(QStringLiteral("更新版本")));
        QCOMPARE(store.tasks().count(), 0);
        const QStringList aside = QDir(dir_.path())
                                      .entryList({QFileInfo(newer).completeBaseName() +
                                                  QStringLiteral(".newer-*.sqlite")});
        QCOMPARE(aside.size(), 1);
        QVERIFY(store.notice().contains(aside.first()));
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("aside"));
        db.setDatabaseName(dir_.filePath(aside.first()));
        QVERIFY(db.open());
        QCOMPARE(ListDatabaseVersion(db), 99);
        QSqlQuery count(db);
        QVERIFY(count.exec(QStringLiteral("SELECT COUNT(*) FROM tasks")) && count.next());
        QCOMPARE(count.value(0).toInt(), 3);
        count = QSqlQuery();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("aside"));
    }

    // A good store that cannot be opened right now (no room to grow, a read-only
    // file) is left where it is, untouched; the lists run in memory and that is said.
    void aStoreThatCannotBeOpenedNowIsLeftAlone() {
        const QString file = freshStore();
        {
            ListStore store;
            QVERIFY(store.open(file));
            fill(store.tasks(), 300, dir_.path());
        }
        const QByteArray before = read(file);
        QVERIFY(!before.isEmpty());
        const auto nothingAside = [&] {
            return QDir(dir_.path())
                .entryList({QFileInfo(file).completeBaseName() + QStringLiteral(".*-*.sqlite")})
                .isEmpty();
        };
        const auto leftAlone = [&](const char* why) {
            ListStore store;
            QVERIFY2(!store.open(file), why);
            QVERIFY2(!store.keeping(), why);
            QVERIFY2(store.notice().contains(QStringLiteral("本次的列表不会被保存")), why);
            QVERIFY2(!store.notice().contains(QStringLiteral("已改名")), why);
            QCOMPARE(store.tasks().count(), 0);
            // The lists still work in memory.
            fill(store.tasks(), 2, dir_.path());
            QCOMPARE(store.tasks().count(), 2);
            store.close();
            QVERIFY2(nothingAside(), why);
            QVERIFY2(read(file) == before, why);
        };

        // Files may not grow past 16 KiB: not even the WAL's shared index can be made.
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit unlimited{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &unlimited), 0);
        rlimit small = unlimited;
        small.rlim_cur = 16 * 1024;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        {
            auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &unlimited); });
            leftAlone("no room");
        }
        if (::geteuid() != 0) { // permissions do not hold for root
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner));
            auto writable = qScopeGuard(
                [&] { QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner); });
            leftAlone("read-only");
        }

        ListStore again;
        QVERIFY(again.open(file));
        QVERIFY(again.notice().isEmpty());
        QCOMPARE(again.tasks().count(), 300);
        QVERIFY(nothingAside());
    }

    // A row that cannot be read costs that row only: the rest loads and that is said.
    void anUnreadableRowIsSkipped() {
        const QString file = freshStore();
        {
            ListStore store;
            QVERIFY(store.open(file));
            fill(store.tasks(), 5, dir_.path());
            QVERIFY(store.flush(std::chrono::seconds(10)));
            onStore(store, QStringLiteral("UPDATE tasks SET fields = x'0102' WHERE id = %1")
                               .arg(store.tasks().task(2).id));
            onStore(store, QStringLiteral("UPDATE tasks SET state = 9 WHERE id = %1")
                               .arg(store.tasks().task(5).id));
        }
        ListStore store;
        QVERIFY(store.open(file));
        QVERIFY2(store.notice().contains(QStringLiteral("2个任务无法读取")),
                 qPrintable(store.notice()));
        QCOMPARE(store.tasks().count(), 3);
        QCOMPARE(store.tasks().task(1).url, QStringLiteral("http://h0/p/0.pdf"));
        QCOMPARE(store.tasks().task(2).url, QStringLiteral("http://h2/p/2.pdf"));
        QCOMPARE(store.tasks().task(3).url, QStringLiteral("http://h0/p/3.pdf"));
        QVERIFY(QDir(dir_.path())
                    .entryList({QFileInfo(file).completeBaseName() + QStringLiteral(".*-*.sqlite")})
                    .isEmpty());
        // New rows take neither the place nor the id of an unreadable one.
        QVERIFY(store.tasks().appendTask(QStringLiteral("http://new/1.pdf"), QStringLiteral("n"),
                                         QStringLiteral("pdf"), dir_.path()));
        QVERIFY(store.flush(std::chrono::seconds(10)));
        QCOMPARE(onStore(store, QStringLiteral("SELECT COUNT(*) FROM tasks")).toInt(), 6);
    }

    // A store written by the first version of this format is read and upgraded.
    void anOlderStoreIsUpgraded() {
        const QString file = freshStore();
        DownloadTask old;
        old.url = QStringLiteral("http://old/1.pdf");
        old.name = QStringLiteral("old");
        old.type = QStringLiteral("pdf");
        old.folder = QStringLiteral("/papers/");
        old.percent = QStringLiteral("100%");
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("v1"));
            db.setDatabaseName(file);
            QVERIFY(db.open());
            QVERIFY(MigrateListDatabase(db, 1));
            QCOMPARE(ListDatabaseVersion(db), 1);
            // The fields as the first version packed them: no wait time at the end.
            QByteArray fields = PackTaskFields(old);
            fields.chop(8);
            QSqlQuery insert(db);
            QVERIFY(insert.prepare(QStringLiteral(
                "INSERT INTO tasks(id, position, url, state, fields) VALUES(5, 0, ?, 3, ?)")));
            insert.bindValue(0, old.url);
            insert.bindValue(1, fields);
            QVERIFY2(insert.exec(), qPrintable(insert.lastError().text()));
            QVERIFY(insert.exec(QStringLiteral(
                "INSERT INTO records VALUES(0, 'http://l/1', 'A title', 'pdf', '成功', '/p/')")));
            insert = QSqlQuery();
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("v1"));
        }
        ListStore store;
        QVERIFY(store.open(file));
        QVERIFY(store.notice().isEmpty());
        QCOMPARE(
            onStore(store, QStringLiteral("SELECT value FROM meta WHERE key = 'schema_version'"))
                .toInt(),
            ListSchemaVersion);
        QCOMPARE(store.tasks().count(), 1);
        const DownloadTask& t = store.tasks().task(1);
        QCOMPARE(t.id, qint64(5));
        QCOMPARE(t.state, TaskState::Done);
        QCOMPARE(t.folder, old.folder);
        QCOMPARE(t.percent, old.percent);
        QVERIFY(!t.notBefore.isValid());
        QCOMPARE(store.records().record(1).title, QStringLiteral("A title"));
        // And it is written in the current form from now on.
        store.tasks().setState(1, TaskState::Failed);
        QVERIFY(store.flush(std::chrono::seconds(10)));
    }

    // A full disk: the writes are reported and tried again, the list in memory
    // stays, and once there is room everything reaches the store.
    void aFullDiskLosesNothing() {
        const QString file = freshStore();
        ListStore store;
        QVERIFY(store.open(file));
        QSignalSpy problems(&store, &ListStore::problemChanged);
        // No file may grow any further: the store's writes fail as on a full disk.
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit unlimited{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &unlimited), 0);
        rlimit full = unlimited;
        full.rlim_cur = rlim_t(
            std::max(QFileInfo(file).size(), QFileInfo(file + QStringLiteral("-wal")).size()));
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &full), 0);
        auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &unlimited); });
        fill(store.tasks(), 400, dir_.path());
        QVERIFY(!store.flush(std::chrono::milliseconds(300)));
        QTRY_VERIFY(!problems.isEmpty());
        QVERIFY(!problems.first().first().toString().isEmpty());
        QVERIFY(!store.problem().isEmpty());
        QCOMPARE(store.tasks().count(), 400);
        store.tasks().setState(7, TaskState::Failed); // queued behind the failed burst
        restore.dismiss();
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &unlimited), 0);
        QVERIFY(store.flush(std::chrono::seconds(20)));
        QTRY_VERIFY(problems.last().first().toString().isEmpty());
        QVERIFY(store.problem().isEmpty());

        // A write the store refuses for good is left out, and said; it holds up nothing
        // behind it.
        QSignalSpy refused(&store, &ListStore::changeRefused);
        store.writer()->post([](QSqlDatabase& db, QSqlError& error) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("INSERT INTO records(seq, link, title, type, status, "
                                          "folder) VALUES(1, NULL, '', '', '', '')")))
                return true;
            error = query.lastError();
            return false;
        });
        store.tasks().setState(8, TaskState::Done);
        QVERIFY(store.flush(std::chrono::seconds(20)));
        QVERIFY(store.problem().isEmpty());
        QTRY_COMPARE(refused.size(), 1);
        QVERIFY(!refused.first().first().toString().isEmpty());
        store.close();
        ListStore again;
        QVERIFY(again.open(file));
        QCOMPARE(again.tasks().count(), 400);
        QCOMPARE(again.tasks().task(7).state, TaskState::Failed);
        QCOMPARE(again.tasks().task(8).state, TaskState::Done);

        // Closed while nothing can be written: the close says so, and why.
        const QString other = freshStore();
        ListStore last;
        QVERIFY(last.open(other));
        QVERIFY(last.close()); // nothing pending: all is on the disk
        QVERIFY(last.open(other));
        full.rlim_cur = rlim_t(
            std::max(QFileInfo(other).size(), QFileInfo(other + QStringLiteral("-wal")).size()));
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &full), 0);
        auto lift = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &unlimited); });
        fill(last.tasks(), 400, dir_.path());
        QVERIFY(!last.close());
        QVERIFY(!last.problem().isEmpty());
        QCOMPARE(last.tasks().count(), 400); // still in memory
    }
};

QM_TEST_GUILESS_MAIN(TestListStore)
#include "tst_list_store.moc"
