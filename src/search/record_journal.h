#pragma once

#include "search/record_list.h"

#include <QSqlDatabase>
#include <QSqlError>

#include <memory>

class StoreWriter;

// What a list store held of the record list.
struct LoadedRecords {
    QList<SearchRecord> records; // in list order
    // Records changed on the way in, to be written back: one the program was
    // analysing when it stopped is unanalysed again.
    QList<SearchRecord> repaired;
    qint64 nextSeq = 0;
};

// Reads every record; false (error set) when that fails.
bool LoadRecordRows(QSqlDatabase& db, LoadedRecords& loaded, QSqlError& error);

// Keeps a record list's rows in a list store in step with the list: every change
// is handed to the store's writer the moment it happens.
class RecordJournal : public RecordListObserver {
public:
    // Observes records from now on; new rows are stored from nextSeq on.
    RecordJournal(RecordListModel& records, std::shared_ptr<StoreWriter> writer, qint64 nextSeq);
    ~RecordJournal() override;

    void recordsAdded(const QList<SearchRecord>& records) override;
    void recordChanged(const SearchRecord& record) override;
    void recordsRemoved(const QStringList& links) override;
    void allRecordsRemoved() override;

private:
    RecordListModel& records_;
    std::shared_ptr<StoreWriter> writer_;
    qint64 nextSeq_;
};
