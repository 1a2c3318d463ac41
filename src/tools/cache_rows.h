#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QString>

// File type of an address or a file path: the text after the last "." of its
// last part (query, fragment and the like cut off), at most six characters.
QString AddressType(const QString& text);

// What a row of the cache viewer stands for; deletion treats each its own way.
enum class CacheRowKind {
    CacheEntry, // an entry of the profile's HTTP cache
    Cookie,     // a cookie of the profile (never deleted)
    Visited,    // an address the program keeps as visited
    FolderFile, // a file found in a user's cache folder
};

struct CacheRow {
    QString text;     // "URL" column
    QString type;     // "TYPE"
    qint64 size = -1; // "SIZE(Byte)"; -1 when no local file is known
    QString filePath; // "FilePath"; empty when no local file is known
    CacheRowKind kind = CacheRowKind::CacheEntry;
    bool isLink = false;
    // Listed, never deleted nor copied: a name that text cannot carry (a path
    // built from it would lead to another file), or a link outside the cache
    // folders (another user's cache reached only through it).
    bool leaveAlone = false;
    // The file may only be removed below root, every step from anchor down taken
    // without following links.
    QString anchor;
    QString root;
};

namespace CacheTexts {
// The text of a row of a user's cache folder, before the user's name.
inline const QString UserPrefix = QStringLiteral("用户:");
} // namespace CacheTexts

// The deletion rule of a row: cookies and text files stay, as do rows
// without an address; everything else is meant to go.
bool MeantForDeletion(const CacheRow& row);

// The cache viewer's file list.
class CacheRowModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { UrlColumn, TypeColumn, SizeColumn, FilePathColumn, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Sizes sort by value, other columns as text; equal rows keep their order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    void setRows(QList<CacheRow> rows);
    void clear() { setRows({}); }
    const QList<CacheRow>& rows() const { return rows_; }

    // A header click: descending unless the list is sorted descending now, then ascending.
    void toggleSort(int column);
    bool sortedDescending() const { return descending_; }

private:
    QList<CacheRow> rows_;
    bool descending_ = false;
};
