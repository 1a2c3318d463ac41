#include "search/record_cleanup.h"

#include "search/record_list.h"

QList<int> MatchingRows(const RecordListModel& records,
                        const std::function<bool(const SearchRecord&)>& match) {
    QList<int> rows;
    for (int row = 1; row <= records.count(); ++row) {
        if (match(records.record(row)))
            rows.append(row);
    }
    return rows;
}

int SweepRecords(RecordListModel& records, const std::function<bool(const SearchRecord&)>& match) {
    const QList<int> rows = MatchingRows(records, match);
    records.removeRecordRows(rows);
    return int(rows.size());
}

bool TitleContains(const SearchRecord& record, const QString& text) {
    return record.title.contains(text, Qt::CaseInsensitive);
}
