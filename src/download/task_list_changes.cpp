#include "download/task_list_changes.h"

QList<qint64> TaskIds(const QList<DownloadTask>& tasks) {
    QList<qint64> ids;
    ids.reserve(tasks.size());
    for (const DownloadTask& t : tasks)
        ids.append(t.id);
    return ids;
}
