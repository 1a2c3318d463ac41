#include "search/record_list.h"

#include "tools/list_rows.h"

#include <algorithm>

bool RecordListModel::加入LV1(const QString& title, const QString& link, const QString& type,
                              const QString& folder) {
    if (index_.contains(link))
        return false;
    const int row = count();
    beginInsertRows({}, row, row);
    records_.append({title, link, type, QString(), folder});
    index_.insert(link, row);
    endInsertRows();
    if (observer_)
        observer_->recordsAdded({records_.last()});
    emit countChanged(count());
    return true;
}

void RecordListModel::loadRecords(QList<SearchRecord> records) {
    beginResetModel();
    records_ = std::move(records);
    rebuildIndex();
    endResetModel();
    emit countChanged(count());
}

void RecordListModel::setStatus(int row, const QString& status) {
    if (row < 1 || row > count())
        return;
    records_[row - 1].status = status;
    if (observer_)
        observer_->recordChanged(records_.at(row - 1));
    const QModelIndex cell = index(row - 1, StatusColumn);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}

void RecordListModel::removeRecordRows(QList<int> rows) {
    rows = ValidRows(std::move(rows), count());
    if (rows.isEmpty())
        return;
    QStringList links;
    links.reserve(rows.size());
    for (int row : std::as_const(rows))
        links.append(records_.at(row - 1).link);
    beginResetModel();
    RemoveRows(records_, rows);
    rebuildIndex();
    endResetModel();
    if (observer_)
        observer_->recordsRemoved(links);
    emit countChanged(count());
}

void RecordListModel::clear() {
    beginResetModel();
    records_.clear();
    index_.clear();
    endResetModel();
    if (observer_)
        observer_->allRecordsRemoved();
    emit countChanged(0);
}

void RecordListModel::rebuildIndex() {
    index_.clear();
    index_.reserve(records_.size());
    for (int i = 0; i < count(); ++i)
        index_.insert(records_.at(i).link, i);
}

int RecordListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

int RecordListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RecordListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count())
        return {};
    const SearchRecord& r = records_.at(index.row());
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
        case TitleColumn:
            return r.title;
        case TypeColumn:
            return r.type;
        case StatusColumn:
            return r.status;
        case FolderColumn:
            return r.folder;
        default:
            return {};
        }
    }
    return {};
}

QVariant RecordListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TitleColumn:
        return QStringLiteral("标题");
    case TypeColumn:
        return QStringLiteral("类型");
    case StatusColumn:
        return QStringLiteral("分析状态");
    case FolderColumn:
        return QStringLiteral("保存路径");
    default:
        return {};
    }
}
