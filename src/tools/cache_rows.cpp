#include "tools/cache_rows.h"

#include "tools/text_utils.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace {
// The last part of an address or path ends before any of these.
const QString TypeStops = QStringLiteral("#\b\t\n\r:*<>|\"'=?");
// A type has at most this many characters.
constexpr int MaxTypeLength = 6;
} // namespace

QString AddressType(const QString& text) {
    QString part = text;
    const QString scheme = QStringLiteral("://");
    const qsizetype first = part.indexOf(scheme);
    if (first >= 0) {
        part = part.mid(first + scheme.size());
        const qsizetype second = part.indexOf(scheme);
        if (second >= 0)
            part = part.left(second);
    }
    part.replace(u'\\', u'/');
    part = part.mid(part.lastIndexOf(u'/') + 1);
    for (qsizetype i = 0; i < part.size(); ++i) {
        if (TypeStops.contains(part.at(i))) {
            part.truncate(i);
            break;
        }
    }
    const qsizetype dot = part.lastIndexOf(u'.');
    if (dot < 0)
        return {};
    const QString type = TrimSpaces(part.mid(dot + 1));
    return type.size() <= MaxTypeLength ? type : QString();
}

bool MeantForDeletion(const CacheRow& row) {
    switch (row.kind) {
    case CacheRowKind::FolderFile:
        // Text files stay: they hold cookies. Judged by the real ending as well,
        // since the type stops at characters a file name may hold ("a=b.txt").
        return !row.filePath.isEmpty() && row.type.compare(u"txt", Qt::CaseInsensitive) != 0 &&
               !row.filePath.endsWith(u".txt", Qt::CaseInsensitive);
    case CacheRowKind::Cookie:
        return false;
    case CacheRowKind::CacheEntry:
    case CacheRowKind::Visited:
        return !row.text.isEmpty() && !row.text.contains(u"cookie", Qt::CaseInsensitive);
    }
    return false;
}

int CacheRowModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int CacheRowModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CacheRowModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    const CacheRow& row = rows_.at(index.row());
    if (role == Qt::TextAlignmentRole && index.column() == SizeColumn)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case UrlColumn:
        return row.text;
    case TypeColumn:
        return row.type;
    case SizeColumn:
        return row.size < 0 ? QString() : QString::number(row.size);
    case FilePathColumn:
        return row.filePath;
    }
    return {};
}

QVariant CacheRowModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case UrlColumn:
        return QStringLiteral("URL");
    case TypeColumn:
        return QStringLiteral("TYPE");
    case SizeColumn:
        return QStringLiteral("SIZE(Byte)");
    case FilePathColumn:
        return QStringLiteral("FilePath");
    }
    return {};
}

void CacheRowModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= ColumnCount)
        return;
    auto text = [column](const CacheRow& row) -> const QString& {
        return column == UrlColumn ? row.text : column == TypeColumn ? row.type : row.filePath;
    };
    auto less = [&](const CacheRow& a, const CacheRow& b) {
        if (column == SizeColumn)
            return a.size < b.size;
        return text(a).compare(text(b), Qt::CaseInsensitive) < 0;
    };
    std::vector<int> positions(size_t(rows_.size()));
    std::iota(positions.begin(), positions.end(), 0);
    std::stable_sort(positions.begin(), positions.end(), [&](int a, int b) {
        return order == Qt::AscendingOrder ? less(rows_.at(a), rows_.at(b))
                                           : less(rows_.at(b), rows_.at(a));
    });
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Selections follow their rows to the new places.
    std::vector<int> newPlace(positions.size());
    QList<CacheRow> sorted;
    sorted.reserve(rows_.size());
    for (size_t i = 0; i < positions.size(); ++i) {
        newPlace[size_t(positions[i])] = int(i);
        sorted.append(std::move(rows_[positions[i]]));
    }
    rows_ = std::move(sorted);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before)
        after.append(this->index(newPlace[size_t(index.row())], index.column()));
    changePersistentIndexList(before, after);
    descending_ = order == Qt::DescendingOrder;
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void CacheRowModel::setRows(QList<CacheRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

void CacheRowModel::toggleSort(int column) {
    sort(column, descending_ ? Qt::AscendingOrder : Qt::DescendingOrder);
}
