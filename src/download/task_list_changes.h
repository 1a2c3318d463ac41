#pragma once

#include "download/task_list.h"

// Every field of two tasks alike.
bool SameTask(const DownloadTask& a, const DownloadTask& b);

// The ids of tasks, in list order.
QList<qint64> TaskIds(const QList<DownloadTask>& tasks);

// Tells observer what a free edit did to a list: removed, added and changed
// tasks, and the new order when rows moved.
void ReportTaskListChanges(TaskListObserver& observer, const QList<DownloadTask>& before,
                           const QList<DownloadTask>& after);
