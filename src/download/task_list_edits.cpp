#include "download/task_list.h"

#include "download/task_list_changes.h"
#include "tools/list_rows.h"

#include <algorithm>
#include <numeric>

// The task list's changes to many rows at once. Each announces only what it
// changed: rows edited in place as dataChanged, moved rows as a layout change
// that carries the views' selection and current row along, removed rows as a
// removal. Nothing at all when nothing changed.

namespace {

// The text a cell sorts by: numbers as 12-digit zero-padded text.
QString SortKey(const QString& cell, bool percent) {
    QString text = cell;
    if (percent)
        text.remove(u'%');
    bool ok = false;
    const qlonglong number = text.trimmed().toLongLong(&ok);
    if (ok && number >= 0)
        return QStringLiteral("%1").arg(number, 12, 10, QLatin1Char('0'));
    return cell;
}

// Above this many separate runs of changed rows, one signal spans them all: a
// repaint of a few unchanged rows costs less than thousands of signals.
constexpr int MaxChangeSignals = 64;

} // namespace

bool TaskListModel::editKeepingKeys(DownloadTask& task,
                                    const std::function<void(DownloadTask&)>& edit) {
    const DownloadTask before = task; // shares its texts: cheap
    edit(task);
    task.url = before.url;
    task.id = before.id;
    return !(task == before);
}

void TaskListModel::announceRows(const QList<int>& rows0) {
    if (rows0.isEmpty())
        return;
    if (observer_) {
        QList<DownloadTask> changed;
        changed.reserve(rows0.size());
        for (int row : rows0)
            changed.append(tasks_.at(row));
        observer_->tasksChanged(changed);
    }
    QList<std::pair<int, int>> runs;
    for (int row : rows0) {
        if (!runs.isEmpty() && runs.last().second + 1 == row)
            runs.last().second = row;
        else
            runs.append({row, row});
    }
    if (runs.size() > MaxChangeSignals)
        runs = {{runs.first().first, runs.last().second}};
    for (const auto& [first, last] : std::as_const(runs))
        emit dataChanged(index(first, 0), index(last, ColumnCount - 1));
}

int TaskListModel::editRows(const std::function<void(DownloadTask&)>& edit) {
    QList<int> changed;
    for (int i = 0; i < count(); ++i) {
        if (editKeepingKeys(tasks_[i], edit))
            changed.append(i);
    }
    announceRows(changed);
    return int(changed.size());
}

int TaskListModel::editRows(const QList<int>& rows,
                            const std::function<void(DownloadTask&)>& edit) {
    QList<int> changed;
    for (int row : ValidRows(rows, count())) {
        if (editKeepingKeys(tasks_[row - 1], edit))
            changed.append(row - 1);
    }
    announceRows(changed);
    return int(changed.size());
}

int TaskListModel::appendTasks(QList<DownloadTask> tasks) {
    QList<DownloadTask> fresh;
    fresh.reserve(tasks.size());
    QHash<QString, int> seen;
    for (DownloadTask& t : tasks) {
        if (index_.contains(t.url) || seen.contains(t.url))
            continue;
        seen.insert(t.url, 0);
        fresh.append(std::move(t));
    }
    if (fresh.isEmpty())
        return 0;
    const int first = count();
    beginInsertRows({}, first, first + int(fresh.size()) - 1);
    for (DownloadTask& t : fresh) {
        t.id = ++lastId_;
        const int row = count();
        index_.insert(t.url, row);
        idIndex_.insert(t.id, row);
        tasks_.append(std::move(t));
    }
    endInsertRows();
    if (observer_)
        observer_->tasksAdded(tasks_.mid(first));
    emit countChanged(count());
    return int(fresh.size());
}

void TaskListModel::removeTaskRows(QList<int> rows) {
    rows = ValidRows(std::move(rows), count());
    if (rows.isEmpty())
        return;
    QList<qint64> ids;
    ids.reserve(rows.size());
    for (int row : std::as_const(rows))
        ids.append(tasks_.at(row - 1).id);
    const auto tell = [this, &ids] {
        if (observer_)
            observer_->tasksRemoved(ids);
    };
    if (rows.last() - rows.first() + 1 == rows.size()) {
        beginRemoveRows({}, rows.first() - 1, rows.last() - 1);
        tasks_.remove(rows.first() - 1, rows.size());
        rebuildIndex();
        endRemoveRows();
        tell();
        emit countChanged(count());
        return;
    }
    // Scattered rows: first the rows that stay move up, in their order, with the
    // views' selection on them; then the rows that go are removed from the end.
    // One pass, however many rows go.
    QList<int> order;
    order.reserve(tasks_.size());
    QList<int> gone;
    gone.reserve(rows.size());
    qsizetype next = 0;
    for (int i = 0; i < count(); ++i) {
        if (next < rows.size() && rows.at(next) == i + 1) {
            gone.append(i);
            ++next;
        } else {
            order.append(i);
        }
    }
    const int kept = int(order.size());
    order.append(gone);
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    QList<int> newRow(tasks_.size());
    for (int i = 0; i < order.size(); ++i)
        newRow[order.at(i)] = i;
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& i : before) {
        const int to = newRow.at(i.row());
        after.append(to < kept ? index(to, i.column()) : QModelIndex());
    }
    changePersistentIndexList(before, after);
    applyOrder(order);
    rebuildIndex(); // slots on layoutChanged may look rows up
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    beginRemoveRows({}, kept, count() - 1);
    tasks_.resize(kept);
    rebuildIndex();
    endRemoveRows();
    tell();
    emit countChanged(count());
}

void TaskListModel::clear() {
    if (tasks_.isEmpty())
        return;
    beginRemoveRows({}, 0, count() - 1);
    tasks_.clear();
    index_.clear();
    idIndex_.clear();
    endRemoveRows();
    if (observer_)
        observer_->allTasksRemoved();
    emit countChanged(0);
}

std::optional<QString>
TaskListModel::replaceUrls(const std::function<QString(const QString&)>& rewrite) {
    QList<QString> keys;
    keys.reserve(tasks_.size());
    QHash<QString, int> seen;
    seen.reserve(tasks_.size());
    for (const DownloadTask& t : std::as_const(tasks_)) {
        const QString key = rewrite(t.url);
        if (seen.contains(key))
            return key;
        seen.insert(key, 0);
        keys.append(key);
    }
    QList<int> changed;
    bool keysChanged = false;
    for (int i = 0; i < count(); ++i) {
        DownloadTask& t = tasks_[i];
        const QString referer = rewrite(t.referer);
        if (keys.at(i) == t.url && referer == t.referer)
            continue;
        if (keys.at(i) != t.url) {
            keysChanged = true;
            ForgetPartFile(t); // kept for the old address; never another row's
        }
        t.url = keys.at(i);
        t.referer = referer;
        changed.append(i);
    }
    if (keysChanged)
        rebuildIndex();
    announceRows(changed);
    return std::nullopt;
}

void TaskListModel::sortByColumn(int column, Qt::SortOrder order) {
    if (column < 0 || column >= ColumnCount || tasks_.isEmpty())
        return;
    const bool numeric = column == SizeColumn || column == ReceivedColumn;
    const bool percent = column == PercentColumn;
    QList<QString> keys;
    keys.reserve(tasks_.size());
    for (const DownloadTask& t : std::as_const(tasks_)) {
        const QString text = CellText(t, column);
        keys.append(numeric || percent ? SortKey(text, percent) : text);
    }
    QList<int> order0(tasks_.size());
    std::iota(order0.begin(), order0.end(), 0);
    std::stable_sort(order0.begin(), order0.end(), [&](int a, int b) {
        const int c = keys.at(a).compare(keys.at(b), Qt::CaseInsensitive);
        return order == Qt::AscendingOrder ? c < 0 : c > 0;
    });
    reorder(order0);
}

void TaskListModel::reorder(const QList<int>& order) {
    if (order.size() != tasks_.size())
        return;
    QList<int> newRow(order.size(), -1);
    bool moved = false;
    for (int i = 0; i < order.size(); ++i) {
        const int from = order.at(i);
        if (from < 0 || from >= order.size() || newRow.at(from) >= 0)
            return;
        newRow[from] = i;
        moved = moved || from != i;
    }
    if (!moved)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& i : before)
        after.append(index(newRow.at(i.row()), i.column()));
    changePersistentIndexList(before, after);
    applyOrder(order);
    rebuildIndex();
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    if (observer_)
        observer_->orderChanged(TaskIds(tasks_));
}

void TaskListModel::applyOrder(const QList<int>& order) {
    QList<DownloadTask> sorted;
    sorted.reserve(tasks_.size());
    for (int from : order)
        sorted.append(std::move(tasks_[from]));
    tasks_ = std::move(sorted);
}

void TaskListModel::rebuildIndex() {
    index_.clear();
    index_.reserve(tasks_.size());
    idIndex_.clear();
    idIndex_.reserve(tasks_.size());
    for (const DownloadTask& t : std::as_const(tasks_))
        lastId_ = std::max(lastId_, t.id);
    for (int i = 0; i < count(); ++i) {
        DownloadTask& t = tasks_[i];
        if (t.id <= 0 || idIndex_.contains(t.id))
            t.id = ++lastId_;
        index_.insert(t.url, i);
        idIndex_.insert(t.id, i);
    }
}

bool TaskListModel::requeue(DownloadTask& t, bool xmlIsWebPage) {
    const DownloadTask before = t;
    // Only the file this task wrote goes; a same-named file of another row or of
    // the user stays. A kept part file stays too: the next attempt continues it.
    DeleteOwnedFile(t);
    t.state = TaskState::Waiting;
    t.result = TaskResult::None;
    t.error.clear();
    t.notBefore = {}; // asked for again now: no earlier wait of its own holds it back
    // A placeholder type: the server's content type or the content check sets the real one.
    if (IsWebPageType(t.type, xmlIsWebPage))
        t.type = QStringLiteral("xxx");
    t.size.clear();
    t.received.clear();
    t.percent.clear();
    return !(t == before);
}

void TaskListModel::RequeueTask(int row) {
    if (row < 1 || row > count())
        return;
    if (requeue(tasks_[row - 1], false)) {
        notifyChanged(row - 1);
        emitRowChanged(row - 1);
    }
}

void TaskListModel::RequeueTasks(const QList<int>& rows) {
    editRows(rows, [](DownloadTask& t) { requeue(t, false); });
}

void TaskListModel::RequeueFailedTasks() {
    editRows([](DownloadTask& t) {
        if (t.state == TaskState::Failed)
            requeue(t, false);
    });
}

void TaskListModel::RequeueWebPageTasks() {
    editRows([](DownloadTask& t) {
        if (IsWebPageType(t.type, true) &&
            (t.state == TaskState::Done || t.state == TaskState::Failed))
            requeue(t, true);
    });
}
