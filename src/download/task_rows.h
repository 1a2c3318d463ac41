#pragma once

#include "download/task_list.h"

#include <QSqlDatabase>
#include <QSqlError>

// How tasks are kept in a list store: one row each, in list order, with their
// id, address and state as columns and the rest as one packed field.

// What a store held, ready for the list.
struct LoadedTasks {
    QList<DownloadTask> tasks; // in list order
    // Tasks changed on the way in, to be written back: a download the program was
    // running when it stopped is waiting again (it resumes from its part file), or
    // done when its file was already in place.
    QList<DownloadTask> repaired;
    qint64 nextPosition = 0;
    int skipped = 0;   // rows that could not be read
    qint64 usedId = 0; // the highest id of any row, read or not
};

// Reads every task but those that cannot be read (counted in skipped); false (error
// set) when the table cannot be read.
bool LoadTaskRows(QSqlDatabase& db, LoadedTasks& loaded, QSqlError& error);

// The writes, each for a whole group of tasks at once.
bool InsertTaskRows(QSqlDatabase& db, const QList<DownloadTask>& tasks, qint64 firstPosition,
                    QSqlError& error);
bool UpdateTaskRows(QSqlDatabase& db, const QList<DownloadTask>& tasks, QSqlError& error);
bool DeleteTaskRows(QSqlDatabase& db, const QList<qint64>& ids, QSqlError& error);
bool DeleteAllTaskRows(QSqlDatabase& db, QSqlError& error);
// Positions follow the order of ids.
bool ReorderTaskRows(QSqlDatabase& db, const QList<qint64>& ids, QSqlError& error);
// The file a download of task id is about to put in place; empty text: none.
bool SetTaskCommitPath(QSqlDatabase& db, qint64 id, const QString& path, QSqlError& error);

QByteArray PackTaskFields(const DownloadTask& task);
// false when the bytes are no packed task
bool UnpackTaskFields(const QByteArray& bytes, DownloadTask& task);
