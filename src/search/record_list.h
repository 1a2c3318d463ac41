#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QList>

// The analysis statuses a record can carry.
namespace RecordStatus {
inline const QString Analysing = QStringLiteral("正在分析");
inline const QString Found = QStringLiteral("成功");
inline const QString Failed = QStringLiteral("失败");
} // namespace RecordStatus

// One hit taken from a result page.
struct SearchRecord {
    QString title;
    QString link; // full-text link, the unique key
    QString type;
    QString status; // "", "正在分析", "成功" or "失败"
    QString folder;
};

// Told of every change to a record list as it happens: what keeps it on disk.
// Records are named by their links.
class RecordListObserver {
public:
    virtual ~RecordListObserver() = default;
    // Appended at the end, in this order.
    virtual void recordsAdded(const QList<SearchRecord>& records) = 0;
    virtual void recordChanged(const SearchRecord& record) = 0;
    virtual void recordsRemoved(const QStringList& links) = 0;
    virtual void allRecordsRemoved() = 0;
};

// The record list behind ListView1. Rows are addressed from 1 by the commands;
// the full-text link is a unique key, looked up through a hash index.
class RecordListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { TitleColumn, TypeColumn, StatusColumn, FolderColumn, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    // Replaces the whole list with records kept from before, telling no observer.
    void loadRecords(QList<SearchRecord> records);
    // Told of every change from now on; nullptr: nobody.
    void setObserver(RecordListObserver* observer) { observer_ = observer; }

    int count() const { return int(records_.size()); }
    // 1-based
    const SearchRecord& record(int row) const { return records_.at(row - 1); }
    // 1-based row of the record with that link, or 0.
    int rowOfLink(const QString& link) const { return index_.value(link, -1) + 1; }

    // Appends a record unless one with the same link exists; then nothing changes.
    bool 加入LV1(const QString& title, const QString& link, const QString& type,
                 const QString& folder);
    void setStatus(int row, const QString& status);
    // Removes the given 1-based rows in one change.
    void removeRecordRows(QList<int> rows);
    void clear();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    void countChanged(int count);

private:
    void rebuildIndex();

    RecordListObserver* observer_ = nullptr;
    QList<SearchRecord> records_;
    QHash<QString, int> index_; // link -> 0-based row
};
