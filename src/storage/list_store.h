#pragma once

#include "download/task_list.h"
#include "search/record_list.h"

#include <QObject>

#include <chrono>
#include <memory>

class QLockFile;
class RecordJournal;
class StoreWriter;
class TaskJournal;

// The program's task list and record list, and the store that keeps them across
// runs and crashes: an SQLite file written on a thread of its own. Without an
// open store the lists still work, in memory only.
class ListStore : public QObject {
    Q_OBJECT

public:
    explicit ListStore(QObject* parent = nullptr);
    // Writes what is pending (a bounded wait), then closes.
    ~ListStore() override;

    // lists.sqlite in the per-user data folder.
    static QString DefaultPath();

    // Opens the store at path (creating it) and fills both lists from it. A store
    // that is damaged or cannot be read is set aside under a new name (never
    // deleted) and the lists start empty. False when the lists are kept in memory
    // only this time. Either way notice() then says what the user should hear once.
    bool open(const QString& path);
    bool keeping() const { return writer_ != nullptr; }
    QString path() const { return path_; }
    QString notice() const { return notice_; }
    // Another program of ours has the store open.
    bool inUse() const { return inUse_; }

    TaskListModel& tasks() { return tasks_; }
    RecordListModel& records() { return records_; }

    // Writes what is pending and closes the store; the lists stay, in memory only.
    // False when some of it could not be written (problem() said why).
    bool close();

    // Waits until every change so far is on disk; false when that did not happen
    // in time (problem() then says why).
    bool flush(std::chrono::milliseconds timeout);
    // Why writes fail at the moment (they are tried again); empty when they do not.
    QString problem() const;

    // The writer, for what tests stage on the store's own connection.
    StoreWriter* writer() const { return writer_.get(); }

signals:
    // Writes began to fail (the reason) or go through again (empty text).
    void problemChanged(const QString& text);
    // A change was refused by the store for good and is not kept (the reason).
    void changeRefused(const QString& text);

private:
    TaskListModel tasks_;
    RecordListModel records_;
    QString path_;
    QString notice_;
    QString lastProblem_; // why the last close() could not write everything
    bool inUse_ = false;
    std::unique_ptr<QLockFile> lock_;
    std::shared_ptr<StoreWriter> writer_;
    std::unique_ptr<TaskJournal> taskJournal_;
    std::unique_ptr<RecordJournal> recordJournal_;
};
