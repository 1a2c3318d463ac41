#include "download/task_list_changes.h"

#include <QHash>

bool SameTask(const DownloadTask& a, const DownloadTask& b) {
    return a.id == b.id && a.state == b.state && a.result == b.result && a.url == b.url &&
           a.name == b.name && a.type == b.type && a.size == b.size && a.received == b.received &&
           a.percent == b.percent && a.folder == b.folder && a.marker == b.marker &&
           a.referer == b.referer && a.savedPath == b.savedPath && a.partPath == b.partPath &&
           a.error == b.error && a.notBefore == b.notBefore;
}

QList<qint64> TaskIds(const QList<DownloadTask>& tasks) {
    QList<qint64> ids;
    ids.reserve(tasks.size());
    for (const DownloadTask& t : tasks)
        ids.append(t.id);
    return ids;
}

void ReportTaskListChanges(TaskListObserver& observer, const QList<DownloadTask>& before,
                           const QList<DownloadTask>& after) {
    QList<DownloadTask> changed;
    // The usual edit keeps every row where it was: compared pairwise.
    bool sameRows = before.size() == after.size();
    for (qsizetype i = 0; sameRows && i < after.size(); ++i)
        sameRows = before.at(i).id == after.at(i).id;
    if (sameRows) {
        for (qsizetype i = 0; i < after.size(); ++i) {
            if (!SameTask(before.at(i), after.at(i)))
                changed.append(after.at(i));
        }
        if (!changed.isEmpty())
            observer.tasksChanged(changed);
        return;
    }

    QHash<qint64, qsizetype> was;
    was.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i)
        was.insert(before.at(i).id, i);
    QList<DownloadTask> added;
    QHash<qint64, bool> kept;
    kept.reserve(after.size());
    // Rows that stay keep their relative order, and new ones come last, or the
    // whole order is told.
    bool inOrder = true;
    qsizetype lastKept = -1;
    for (const DownloadTask& t : after) {
        const auto it = was.constFind(t.id);
        if (it == was.constEnd()) {
            added.append(t);
            continue;
        }
        kept.insert(t.id, true);
        inOrder = inOrder && added.isEmpty() && *it > lastKept;
        lastKept = *it;
        if (!SameTask(before.at(*it), t))
            changed.append(t);
    }
    QList<qint64> removed;
    for (const DownloadTask& t : before) {
        if (!kept.contains(t.id))
            removed.append(t.id);
    }
    if (!removed.isEmpty())
        observer.tasksRemoved(removed);
    if (!added.isEmpty())
        observer.tasksAdded(added);
    if (!changed.isEmpty())
        observer.tasksChanged(changed);
    if (!inOrder)
        observer.orderChanged(TaskIds(after));
}
