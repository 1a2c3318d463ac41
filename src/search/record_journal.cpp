#include "search/record_journal.h"

#include "storage/store_writer.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

bool Fail(const QSqlQuery& query, QSqlError& error) {
    error = query.lastError();
    return false;
}

// Text as a value: a null QString would be bound as NULL.
QString NotNull(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

bool Prepare(QSqlQuery& query, const QString& sql, QSqlError& error) {
    return query.prepare(sql) || Fail(query, error);
}

bool UpdateRecord(QSqlDatabase& db, const SearchRecord& r, QSqlError& error) {
    QSqlQuery query(db);
    if (!Prepare(query,
                 QStringLiteral("UPDATE records SET title = ?, type = ?, status = ?, folder = ? "
                                "WHERE link = ?"),
                 error))
        return false;
    query.bindValue(0, NotNull(r.title));
    query.bindValue(1, NotNull(r.type));
    query.bindValue(2, NotNull(r.status));
    query.bindValue(3, NotNull(r.folder));
    query.bindValue(4, NotNull(r.link));
    return query.exec() || Fail(query, error);
}

} // namespace

bool LoadRecordRows(QSqlDatabase& db, LoadedRecords& loaded, QSqlError& error) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral(
            "SELECT seq, title, link, type, status, folder FROM records ORDER BY seq")))
        return Fail(query, error);
    while (query.next()) {
        loaded.nextSeq = std::max(loaded.nextSeq, query.value(0).toLongLong() + 1);
        SearchRecord r{query.value(1).toString(), query.value(2).toString(),
                       query.value(3).toString(), query.value(4).toString(),
                       query.value(5).toString()};
        if (r.status == RecordStatus::Analysing) {
            r.status.clear();
            loaded.repaired.append(r);
        }
        loaded.records.append(std::move(r));
    }
    return query.lastError().type() == QSqlError::NoError || Fail(query, error);
}

RecordJournal::RecordJournal(RecordListModel& records, std::shared_ptr<StoreWriter> writer,
                             qint64 nextSeq)
    : records_(records)
    , writer_(std::move(writer))
    , nextSeq_(nextSeq) {
    records_.setObserver(this);
}

RecordJournal::~RecordJournal() {
    records_.setObserver(nullptr);
}

void RecordJournal::recordsAdded(const QList<SearchRecord>& records) {
    const qint64 first = nextSeq_;
    nextSeq_ += records.size();
    writer_->post([records, first](QSqlDatabase& db, QSqlError& error) {
        QSqlQuery query(db);
        if (!Prepare(query,
                     QStringLiteral("INSERT OR REPLACE INTO records(seq, link, title, type, "
                                    "status, folder) VALUES(?, ?, ?, ?, ?, ?)"),
                     error))
            return false;
        qint64 seq = first;
        for (const SearchRecord& r : records) {
            query.bindValue(0, seq++);
            query.bindValue(1, NotNull(r.link));
            query.bindValue(2, NotNull(r.title));
            query.bindValue(3, NotNull(r.type));
            query.bindValue(4, NotNull(r.status));
            query.bindValue(5, NotNull(r.folder));
            if (!query.exec())
                return Fail(query, error);
        }
        return true;
    });
}

void RecordJournal::recordChanged(const SearchRecord& record) {
    writer_->post(
        [record](QSqlDatabase& db, QSqlError& error) { return UpdateRecord(db, record, error); });
}

void RecordJournal::recordsRemoved(const QStringList& links) {
    writer_->post([links](QSqlDatabase& db, QSqlError& error) {
        QSqlQuery query(db);
        if (!Prepare(query, QStringLiteral("DELETE FROM records WHERE link = ?"), error))
            return false;
        for (const QString& link : links) {
            query.bindValue(0, link);
            if (!query.exec())
                return Fail(query, error);
        }
        return true;
    });
}

void RecordJournal::allRecordsRemoved() {
    nextSeq_ = 0;
    writer_->post([](QSqlDatabase& db, QSqlError& error) {
        QSqlQuery query(db);
        return query.exec(QStringLiteral("DELETE FROM records")) || Fail(query, error);
    });
}
