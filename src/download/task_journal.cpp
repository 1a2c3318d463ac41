#include "download/task_journal.h"

#include "download/task_rows.h"
#include "storage/store_writer.h"
#include "tools/time_limits.h"

TaskJournal::TaskJournal(TaskListModel& tasks, std::shared_ptr<StoreWriter> writer,
                         qint64 nextPosition, QObject* parent)
    : QObject(parent)
    , tasks_(tasks)
    , writer_(std::move(writer))
    , nextPosition_(nextPosition) {
    clock_.start();
    progressTimer_.setInterval(TimeLimits::Scaled(TimeLimits::ProgressStoreInterval));
    connect(&progressTimer_, &QTimer::timeout, this, [this] { writeDueProgress(false); });
    addTimer_.setSingleShot(true);
    addTimer_.setInterval(0);
    connect(&addTimer_, &QTimer::timeout, this, &TaskJournal::writeAdded);
    tasks_.setObserver(this);
}

TaskJournal::~TaskJournal() {
    if (tasks_.observer() == this)
        tasks_.setObserver(nullptr);
    writeHeldProgress();
}

void TaskJournal::writeHeldProgress() {
    writeDueProgress(true);
}

void TaskJournal::writeAdded() {
    addTimer_.stop();
    if (added_.isEmpty())
        return;
    writer_->post([tasks = std::exchange(added_, {}), first = addedFirst_](QSqlDatabase& db,
                                                                           QSqlError& error) {
        return InsertTaskRows(db, tasks, first, error);
    });
}

void TaskJournal::writeDueProgress(bool all) {
    writeAdded(); // every later write may name these rows
    const qint64 now = clock_.elapsed();
    const qint64 interval = TimeLimits::Scaled(TimeLimits::ProgressStoreInterval).count();
    QList<DownloadTask> due;
    for (auto it = heldProgress_.begin(); it != heldProgress_.end();) {
        if (all || now - progressWritten_.value(it.key()) >= interval) {
            progressWritten_.insert(it.key(), now);
            due.append(std::move(it.value()));
            it = heldProgress_.erase(it);
        } else {
            ++it;
        }
    }
    if (heldProgress_.isEmpty())
        progressTimer_.stop();
    if (!due.isEmpty())
        writer_->post(
            [due](QSqlDatabase& db, QSqlError& error) { return UpdateTaskRows(db, due, error); });
}

void TaskJournal::tasksAdded(const QList<DownloadTask>& tasks) {
    if (added_.isEmpty()) {
        addedFirst_ = nextPosition_;
        addTimer_.start();
    }
    added_.append(tasks);
    nextPosition_ += tasks.size();
}

void TaskJournal::tasksChanged(const QList<DownloadTask>& tasks) {
    writeAdded();
    // Whatever progress was held back is in these rows now.
    if (!heldProgress_.isEmpty()) {
        for (const DownloadTask& t : tasks)
            heldProgress_.remove(t.id);
    }
    writer_->post(
        [tasks](QSqlDatabase& db, QSqlError& error) { return UpdateTaskRows(db, tasks, error); });
}

void TaskJournal::progressChanged(const DownloadTask& task) {
    const qint64 now = clock_.elapsed();
    const qint64 interval = TimeLimits::Scaled(TimeLimits::ProgressStoreInterval).count();
    const auto written = progressWritten_.constFind(task.id);
    if (written != progressWritten_.constEnd() && now - *written < interval) {
        heldProgress_.insert(task.id, task);
        if (!progressTimer_.isActive())
            progressTimer_.start();
        return;
    }
    writeAdded();
    heldProgress_.remove(task.id);
    progressWritten_.insert(task.id, now);
    const QList<DownloadTask> rows{task};
    writer_->post(
        [rows](QSqlDatabase& db, QSqlError& error) { return UpdateTaskRows(db, rows, error); });
}

void TaskJournal::tasksRemoved(const QList<qint64>& ids) {
    writeAdded();
    for (qint64 id : ids) {
        heldProgress_.remove(id);
        progressWritten_.remove(id);
    }
    writer_->post(
        [ids](QSqlDatabase& db, QSqlError& error) { return DeleteTaskRows(db, ids, error); });
}

void TaskJournal::allTasksRemoved() {
    addTimer_.stop();
    added_.clear(); // gone before they were written
    heldProgress_.clear();
    progressWritten_.clear();
    nextPosition_ = 0;
    writer_->post([](QSqlDatabase& db, QSqlError& error) { return DeleteAllTaskRows(db, error); });
}

void TaskJournal::orderChanged(const QList<qint64>& ids) {
    writeAdded();
    nextPosition_ = ids.size();
    writer_->post(
        [ids](QSqlDatabase& db, QSqlError& error) { return ReorderTaskRows(db, ids, error); });
}

std::function<bool(const QString&)> TaskJournal::fileCommitRecorder(qint64 id) {
    writeAdded();
    std::weak_ptr<StoreWriter> weak = writer_;
    return [weak, id](const QString& path) {
        const std::shared_ptr<StoreWriter> writer = weak.lock();
        if (!writer)
            return path.isEmpty(); // closed meanwhile: nothing would record the file
        const quint64 serial = writer->post([id, path](QSqlDatabase& db, QSqlError& error) {
            return SetTaskCommitPath(db, id, path, error);
        });
        return writer->waitFor(serial, TimeLimits::CommitRecordWait);
    };
}
