#include "storage/list_store.h"

#include "download/task_journal.h"
#include "download/task_rows.h"
#include "search/record_journal.h"
#include "storage/list_database.h"
#include "storage/store_writer.h"
#include "tools/time_limits.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>

ListStore::ListStore(QObject* parent)
    : QObject(parent) {}

ListStore::~ListStore() {
    close();
}

QString ListStore::DefaultPath() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
        .filePath(QStringLiteral("lists.sqlite"));
}

bool ListStore::close() {
    // The journals hand over what they hold back before the writer's last commit.
    taskJournal_.reset();
    recordJournal_.reset();
    bool written = true;
    if (writer_) {
        written = writer_->close();
        lastProblem_ = written ? QString() : writer_->problem();
        if (!written && lastProblem_.isEmpty())
            lastProblem_ = QStringLiteral("列表文件没有写完");
        writer_.reset();
    }
    lock_.reset();
    return written;
}

bool ListStore::open(const QString& path) {
    close();
    path_ = path;
    notice_.clear();
    lastProblem_.clear();
    inUse_ = false;
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo file(path);
    if (!QDir().mkpath(file.absolutePath())) {
        notice_ = QStringLiteral("无法建立列表文件所在的文件夹：%1。本次的列表不会被保存。")
                      .arg(QDir::toNativeSeparators(file.absolutePath()));
        return false;
    }
    // One program at a time: two writing the same lists would undo each other.
    lock_ = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    lock_->setStaleLockTime(0); // only a lock whose program is gone is stale
    if (!lock_->tryLock(0)) {
        inUse_ = lock_->error() == QLockFile::LockFailedError;
        notice_ =
            inUse_ ? QStringLiteral("列表文件正被另一个Quillmarsh使用：%1。本次的列表不会被保存。")
                         .arg(shown)
                   : QStringLiteral("无法锁定列表文件：%1。本次的列表不会被保存。").arg(shown);
        lock_.reset();
        return false;
    }

    // Opened, checked and read on the store's own thread.
    auto writer = std::make_shared<StoreWriter>();
    OpenedStore opened;
    LoadedTasks loadedTasks;
    LoadedRecords loadedRecords;
    writer->call([&](QSqlDatabase& db) {
        opened = OpenListDatabase(db, path, writer->connectionName());
        QSqlError error;
        if (opened.ok &&
            !(LoadTaskRows(db, loadedTasks, error) && LoadRecordRows(db, loadedRecords, error))) {
            loadedTasks = {};
            loadedRecords = {};
            if (IsDamagedStore(error)) {
                opened = ReplaceListDatabase(db, path, writer->connectionName(), error.text());
            } else {
                // Could not be read this time (I/O, a lock): the file stays for the next start.
                db.close();
                opened = {false, {}, error.text()};
            }
        }
    });

    const QString aside = QDir::toNativeSeparators(opened.setAsideAs);
    if (!opened.ok) {
        notice_ =
            aside.isEmpty()
                ? QStringLiteral("无法打开列表文件：%1（%2）。本次的列表不会被保存。")
                      .arg(shown, opened.reason)
                : QStringLiteral("列表文件无法使用（%1），已改名保存为：%2。本次的列表不会被保存。")
                      .arg(opened.reason, aside);
        writer->close();
        lock_.reset();
        return false;
    }
    if (!aside.isEmpty())
        notice_ = QStringLiteral("列表文件无法使用（%1），已改名保存为：%2。本次从空列表开始。")
                      .arg(opened.reason, aside);
    else if (loadedTasks.skipped > 0)
        notice_ = QStringLiteral("列表文件中有%1个任务无法读取，已略过：%2")
                      .arg(loadedTasks.skipped)
                      .arg(shown);

    writer_ = std::move(writer);
    connect(writer_.get(), &StoreWriter::refused, this, &ListStore::changeRefused,
            Qt::QueuedConnection);
    connect(writer_.get(), &StoreWriter::problemChanged, this, &ListStore::problemChanged,
            Qt::QueuedConnection);
    tasks_.loadTasks(std::move(loadedTasks.tasks), loadedTasks.usedId);
    records_.loadRecords(std::move(loadedRecords.records));
    taskJournal_ = std::make_unique<TaskJournal>(tasks_, writer_, loadedTasks.nextPosition);
    recordJournal_ = std::make_unique<RecordJournal>(records_, writer_, loadedRecords.nextSeq);
    if (!loadedTasks.repaired.isEmpty())
        taskJournal_->tasksChanged(loadedTasks.repaired);
    for (const SearchRecord& r : std::as_const(loadedRecords.repaired))
        recordJournal_->recordChanged(r);
    return true;
}

bool ListStore::flush(std::chrono::milliseconds timeout) {
    if (!writer_)
        return true;
    if (taskJournal_)
        taskJournal_->writeHeldProgress();
    return writer_->flush(timeout);
}

QString ListStore::problem() const {
    return writer_ ? writer_->problem() : lastProblem_;
}
