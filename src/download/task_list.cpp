#include "download/task_list.h"

#include "download/part_file.h"
#include "download/task_list_changes.h"
#include "tools/file_helpers.h"
#include "tools/list_rows.h"
#include "tools/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString TaskListModel::CellText(const DownloadTask& t, int column) {
    switch (column) {
    case TaskListModel::NameColumn:
        return t.name;
    case TaskListModel::TypeColumn:
        return t.type;
    case TaskListModel::SizeColumn:
        return t.size;
    case TaskListModel::ReceivedColumn:
        return t.received;
    case TaskListModel::PercentColumn:
        return t.percent;
    case TaskListModel::FolderColumn:
        return t.folder;
    case TaskListModel::MarkerColumn:
        return t.marker;
    default:
        return {};
    }
}

// Runs for every row each second: compares without building lower-case copies.
bool IsWebPageType(const QString& type, bool xmlToo) {
    const auto is = [&type](QStringView word) {
        return type.compare(word, Qt::CaseInsensitive) == 0;
    };
    return is(u"htm") || is(u"html") || (xmlToo && is(u"xml"));
}

QString TaskStateWord(TaskState state) {
    switch (state) {
    case TaskState::Waiting:
        return QStringLiteral("等待");
    case TaskState::Downloading:
        return QStringLiteral("正在下载");
    case TaskState::Done:
        return QStringLiteral("已完成");
    case TaskState::Failed:
        return QStringLiteral("失败");
    }
    return {};
}

QString DownloadTask::filePath() const {
    return JoinFilePath(folder, name, type);
}

bool DownloadTask::hasWebPageType() const {
    return IsWebPageType(type, false);
}

namespace {

// path is a file directly inside folder: compared as written and as resolved, so
// neither ".." nor a link leads out.
bool LiesInside(const QString& path, const QString& folder) {
    if (path.isEmpty() || folder.isEmpty())
        return false;
    const QFileInfo file(path);
    if (QDir::cleanPath(file.absolutePath()) != QDir::cleanPath(QDir(folder).absolutePath()))
        return false;
    const QString realFolder = QFileInfo(folder).canonicalFilePath();
    return !realFolder.isEmpty() &&
           realFolder == QFileInfo(file.absolutePath()).canonicalFilePath();
}

} // namespace

QString DownloadTask::ownedFilePath() const {
    return LiesInside(savedPath, folder) ? savedPath : QString();
}

QString DownloadTask::ownedPartPath() const {
    return LiesInside(partPath, folder) ? partPath : QString();
}

void DeleteOwnedFile(DownloadTask& task) {
    const QString path = task.ownedFilePath();
    if (!path.isEmpty() && FileExists(path))
        QFile::remove(path);
    task.savedPath.clear();
}

void ForgetPartFile(DownloadTask& task) {
    RemoveTaskPartFiles(task.ownedPartPath(), DownloadAddress(task.url));
    task.partPath.clear();
}

int TaskListModel::ColumnWidthTwips(int column) {
    static const int widths[ColumnCount] = {10583, 1411, 1940, 1940, 1411, 10583, 2540};
    return column >= 0 && column < ColumnCount ? widths[column] : 1000;
}

bool TaskListModel::appendTask(const QString& url, const QString& name, const QString& type,
                               const QString& folder, const QString& referer) {
    if (index_.contains(url))
        return false;
    const int row = count();
    beginInsertRows({}, row, row);
    DownloadTask task;
    task.url = url;
    task.name = name;
    task.type = type;
    task.folder = folder;
    task.referer = referer;
    task.id = ++lastId_;
    idIndex_.insert(task.id, row);
    tasks_.append(std::move(task));
    index_.insert(url, row);
    endInsertRows();
    if (observer_)
        observer_->tasksAdded({tasks_.last()});
    emit countChanged(count());
    return true;
}

void TaskListModel::loadTasks(QList<DownloadTask> tasks, qint64 usedId) {
    beginResetModel();
    tasks_ = std::move(tasks);
    lastId_ = std::max(lastId_, usedId);
    rebuildIndex();
    endResetModel();
    emit countChanged(count());
}

void TaskListModel::emitRowChanged(int row0) {
    emit dataChanged(index(row0, 0), index(row0, ColumnCount - 1));
}

void TaskListModel::notifyChanged(int row0) {
    if (observer_)
        observer_->tasksChanged({tasks_.at(row0)});
}

void TaskListModel::setState(int row, TaskState state) {
    if (row < 1 || row > count())
        return;
    tasks_[row - 1].state = state;
    notifyChanged(row - 1);
    emitRowChanged(row - 1);
}

void TaskListModel::setCell(int row, Column column, const QString& text) {
    if (row < 1 || row > count())
        return;
    DownloadTask& t = tasks_[row - 1];
    switch (column) {
    case NameColumn:
        t.name = text;
        break;
    case TypeColumn:
        t.type = text;
        break;
    case SizeColumn:
        t.size = text;
        break;
    case ReceivedColumn:
        t.received = text;
        break;
    case PercentColumn:
        t.percent = text;
        break;
    case FolderColumn:
        t.folder = text;
        break;
    case MarkerColumn:
        t.marker = text;
        break;
    default:
        return;
    }
    notifyChanged(row - 1);
    const QModelIndex cell = index(row - 1, column);
    emit dataChanged(cell, cell);
}

void TaskListModel::clearProgress(int row) {
    if (row < 1 || row > count())
        return;
    DownloadTask& t = tasks_[row - 1];
    t.size.clear();
    t.received.clear();
    t.percent.clear();
    notifyChanged(row - 1);
    emitRowChanged(row - 1);
}

void TaskListModel::setProgress(int row, const QString& size, const QString& received,
                                const QString& percent) {
    if (row < 1 || row > count())
        return;
    DownloadTask& t = tasks_[row - 1];
    if (t.size == size && t.received == received && t.percent == percent)
        return;
    t.size = size;
    t.received = received;
    t.percent = percent;
    if (observer_)
        observer_->progressChanged(t);
    emit dataChanged(index(row - 1, SizeColumn), index(row - 1, PercentColumn));
}

void TaskListModel::editTask(int row, const std::function<void(DownloadTask&)>& edit) {
    if (row < 1 || row > count())
        return;
    DownloadTask& t = tasks_[row - 1];
    const QString url = t.url;
    const qint64 id = t.id;
    edit(t);
    t.url = url; // the keys stay
    t.id = id;
    notifyChanged(row - 1);
    emitRowChanged(row - 1);
}

int TaskListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

int TaskListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TaskListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count())
        return {};
    const DownloadTask& t = tasks_.at(index.row());
    if (role == StateRole)
        return int(t.state);
    if (role == Qt::DecorationRole && index.column() == NameColumn) {
        const int i = int(t.state) - 1;
        return i >= 0 && i < stateIcons_.size() ? QVariant(stateIcons_.at(i)) : QVariant();
    }
    if (role == Qt::TextAlignmentRole) {
        const bool right = index.column() == SizeColumn || index.column() == ReceivedColumn ||
                           index.column() == PercentColumn;
        return QVariant::fromValue(Qt::AlignVCenter | (right ? Qt::AlignRight : Qt::AlignLeft));
    }
    if (role == Qt::ToolTipRole && !t.error.isEmpty())
        return CellText(t, index.column()) + u'\n' + t.error;
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    return CellText(t, index.column());
}

QVariant TaskListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::TextAlignmentRole) {
        const bool right =
            section == SizeColumn || section == ReceivedColumn || section == PercentColumn;
        return QVariant::fromValue(Qt::AlignVCenter | (right ? Qt::AlignRight : Qt::AlignLeft));
    }
    if (role != Qt::DisplayRole)
        return {};
    static const char16_t* headers[ColumnCount] = {u"名称",   u"类型",     u"文件大小", u"已下载数",
                                                   u"百分比", u"保存路径", u"B"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf16(headers[section])
                                                 : QVariant();
}
