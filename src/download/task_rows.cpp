#include "download/task_rows.h"

#include "download/part_file.h"
#include "tools/file_helpers.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <tuple>
#include <vector>

namespace {

constexpr int DownloadingState = int(TaskState::Downloading);

// Text as a value: a null QString would be bound as NULL.
QString NotNull(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

bool Fail(const QSqlQuery& query, QSqlError& error) {
    error = query.lastError();
    return false;
}

bool Prepare(QSqlQuery& query, const QString& sql, QSqlError& error) {
    query.setForwardOnly(true);
    return query.prepare(sql) || Fail(query, error);
}

// A download that was running when the program stopped.
void Repair(DownloadTask& t, const QString& commitPath) {
    // Its file was put in place and only the note of it is missing: it is done.
    if (!commitPath.isEmpty() && FileExists(commitPath) && !AnythingExists(t.partPath)) {
        const NameAndType file = SplitNameAndType(commitPath);
        const QString length = QString::number(QFileInfo(commitPath).size());
        const QString partPath = t.ownedPartPath();
        if (!partPath.isEmpty())
            QFile::remove(PartMetaPath(partPath));
        t.state = TaskState::Done;
        t.result = TaskResult::Saved;
        t.savedPath = commitPath;
        t.name = file.name;
        t.type = file.type;
        t.size = length;
        t.received = length;
        t.percent = QStringLiteral("100%");
        t.error.clear();
        t.partPath.clear();
        return;
    }
    // Otherwise it waits again and continues its part file.
    t.state = TaskState::Waiting;
    t.result = TaskResult::None;
    t.size.clear();
    t.received.clear();
    t.percent.clear();
}

} // namespace

QByteArray PackTaskFields(const DownloadTask& t) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << t.name << t.type << t.size << t.received << t.percent << t.folder << t.marker
        << t.referer << qint32(t.result) << t.savedPath << t.partPath << t.error
        << qint64(t.notBefore.isValid() ? t.notBefore.toMSecsSinceEpoch() : 0);
    return bytes;
}

bool UnpackTaskFields(const QByteArray& bytes, DownloadTask& t) {
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_0);
    qint32 result = 0;
    in >> t.name >> t.type >> t.size >> t.received >> t.percent >> t.folder >> t.marker >>
        t.referer >> result >> t.savedPath >> t.partPath >> t.error;
    if (in.status() != QDataStream::Ok || result < int(TaskResult::None) ||
        result > int(TaskResult::Cancelled))
        return false;
    t.result = TaskResult(result);
    // Fields added later are read when the row has them.
    qint64 notBefore = 0;
    if (!in.atEnd())
        in >> notBefore;
    t.notBefore = notBefore > 0 ? QDateTime::fromMSecsSinceEpoch(notBefore) : QDateTime();
    return in.status() == QDataStream::Ok;
}

bool LoadTaskRows(QSqlDatabase& db, LoadedTasks& loaded, QSqlError& error) {
    // Read in the table's own order and put in list order here: sorting by
    // position in SQL would spill 100,000 rows to a temporary file.
    QSqlQuery query(db);
    if (!Prepare(query,
                 QStringLiteral("SELECT id, position, url, state, fields, commit_path FROM tasks"),
                 error) ||
        !query.exec())
        return Fail(query, error);
    QList<DownloadTask> read;
    std::vector<std::tuple<qint64, qint64, qsizetype>> order; // position, id, index in read
    while (query.next()) {
        DownloadTask t;
        t.id = query.value(0).toLongLong();
        const qint64 position = query.value(1).toLongLong();
        t.url = query.value(2).toString();
        const int state = query.value(3).toInt();
        loaded.nextPosition = std::max(loaded.nextPosition, position + 1);
        loaded.usedId = std::max(loaded.usedId, t.id);
        if (t.id <= 0 || state < 1 || state > 4 ||
            !UnpackTaskFields(query.value(4).toByteArray(), t)) {
            // One bad row costs that row, not the list; it stays in the file as it is.
            ++loaded.skipped;
            continue;
        }
        t.state = TaskState(state);
        if (state == DownloadingState) {
            Repair(t, query.value(5).toString());
            loaded.repaired.append(t);
        }
        order.emplace_back(position, t.id, read.size());
        read.append(std::move(t));
    }
    if (query.lastError().type() != QSqlError::NoError)
        return Fail(query, error);
    std::sort(order.begin(), order.end());
    loaded.tasks.reserve(read.size());
    for (const auto& [position, id, index] : order)
        loaded.tasks.append(std::move(read[index]));
    return true;
}

bool InsertTaskRows(QSqlDatabase& db, const QList<DownloadTask>& tasks, qint64 firstPosition,
                    QSqlError& error) {
    QSqlQuery query(db);
    if (!Prepare(query,
                 QStringLiteral("INSERT OR REPLACE INTO tasks(id, position, url, state, fields) "
                                "VALUES(?, ?, ?, ?, ?)"),
                 error))
        return false;
    qint64 position = firstPosition;
    for (const DownloadTask& t : tasks) {
        query.bindValue(0, t.id);
        query.bindValue(1, position++);
        query.bindValue(2, NotNull(t.url));
        query.bindValue(3, int(t.state));
        query.bindValue(4, PackTaskFields(t));
        if (!query.exec())
            return Fail(query, error);
    }
    return true;
}

bool UpdateTaskRows(QSqlDatabase& db, const QList<DownloadTask>& tasks, QSqlError& error) {
    // The note of a file being put in place lasts only while its download runs.
    QSqlQuery query(db);
    if (!Prepare(query,
                 QStringLiteral("UPDATE tasks SET url = ?, state = ?, fields = ?, commit_path = "
                                "CASE WHEN ? = %1 THEN commit_path END WHERE id = ?")
                     .arg(DownloadingState),
                 error))
        return false;
    QList<DownloadTask> missing;
    for (const DownloadTask& t : tasks) {
        query.bindValue(0, NotNull(t.url));
        query.bindValue(1, int(t.state));
        query.bindValue(2, PackTaskFields(t));
        query.bindValue(3, int(t.state));
        query.bindValue(4, t.id);
        if (!query.exec())
            return Fail(query, error);
        if (query.numRowsAffected() == 0)
            missing.append(t);
    }
    if (missing.isEmpty())
        return true;
    // A row the store lost track of goes back in, at the end.
    QSqlQuery last(db);
    if (!last.exec(QStringLiteral("SELECT COALESCE(MAX(position), -1) + 1 FROM tasks")) ||
        !last.next())
        return Fail(last, error);
    return InsertTaskRows(db, missing, last.value(0).toLongLong(), error);
}

bool DeleteTaskRows(QSqlDatabase& db, const QList<qint64>& ids, QSqlError& error) {
    QSqlQuery query(db);
    if (!Prepare(query, QStringLiteral("DELETE FROM tasks WHERE id = ?"), error))
        return false;
    for (qint64 id : ids) {
        query.bindValue(0, id);
        if (!query.exec())
            return Fail(query, error);
    }
    return true;
}

bool DeleteAllTaskRows(QSqlDatabase& db, QSqlError& error) {
    QSqlQuery query(db);
    return query.exec(QStringLiteral("DELETE FROM tasks")) || Fail(query, error);
}

bool ReorderTaskRows(QSqlDatabase& db, const QList<qint64>& ids, QSqlError& error) {
    QSqlQuery query(db);
    if (!Prepare(query, QStringLiteral("UPDATE tasks SET position = ? WHERE id = ?"), error))
        return false;
    for (qsizetype i = 0; i < ids.size(); ++i) {
        query.bindValue(0, qint64(i));
        query.bindValue(1, ids.at(i));
        if (!query.exec())
            return Fail(query, error);
    }
    return true;
}

bool SetTaskCommitPath(QSqlDatabase& db, qint64 id, const QString& path, QSqlError& error) {
    QSqlQuery query(db);
    if (!Prepare(query, QStringLiteral("UPDATE tasks SET commit_path = ? WHERE id = ?"), error))
        return false;
    query.bindValue(0, path.isEmpty() ? QVariant() : QVariant(path));
    query.bindValue(1, id);
    return query.exec() || Fail(query, error);
}
