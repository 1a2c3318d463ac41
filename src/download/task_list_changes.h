#pragma once

#include "download/task_list.h"

// The ids of tasks, in list order.
QList<qint64> TaskIds(const QList<DownloadTask>& tasks);
