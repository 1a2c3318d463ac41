#pragma once

#include "download/task_list.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <memory>

class StoreWriter;

// Keeps a task list's rows in a list store in step with the list: every change is
// handed to the store's writer the moment it happens; progress, which changes
// several times a second, at most once a second per task.
class TaskJournal : public QObject, public TaskListObserver {
    Q_OBJECT

public:
    // Observes tasks from now on; new rows are stored from nextPosition on.
    TaskJournal(TaskListModel& tasks, std::shared_ptr<StoreWriter> writer, qint64 nextPosition,
                QObject* parent = nullptr);
    // Hands over the progress held back and stops observing.
    ~TaskJournal() override;

    // Hands over the progress held back now.
    void writeHeldProgress();

    void tasksAdded(const QList<DownloadTask>& tasks) override;
    void tasksChanged(const QList<DownloadTask>& tasks) override;
    void progressChanged(const DownloadTask& task) override;
    void tasksRemoved(const QList<qint64>& ids) override;
    void allTasksRemoved() override;
    void orderChanged(const QList<qint64>& ids) override;
    std::function<bool(const QString& path)> fileCommitRecorder(qint64 id) override;

private:
    void writeDueProgress(bool all);
    // Hands over the rows added since the last turn of the event loop, so a list
    // filled one row at a time is written as one insert, not one per row.
    void writeAdded();

    TaskListModel& tasks_;
    std::shared_ptr<StoreWriter> writer_;
    qint64 nextPosition_;
    QElapsedTimer clock_;
    QTimer progressTimer_;
    QTimer addTimer_;
    QList<DownloadTask> added_;             // not handed over yet
    qint64 addedFirst_ = 0;                 // the position of added_'s first row
    QHash<qint64, qint64> progressWritten_; // task id -> when its progress was last written
    QHash<qint64, DownloadTask> heldProgress_;
};
