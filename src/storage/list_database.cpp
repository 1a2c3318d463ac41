#include "storage/list_database.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// Each version's statements, applied in order on top of the one before.
const QList<QList<const char*>>& Migrations() {
    static const QList<QList<const char*>> steps = {
        // 1: the task list and the record list, in list order.
        {"CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL)",
         "CREATE TABLE tasks(id INTEGER PRIMARY KEY, position INTEGER NOT NULL, "
         "url TEXT NOT NULL, state INTEGER NOT NULL, fields BLOB NOT NULL)",
         "CREATE TABLE records(seq INTEGER PRIMARY KEY, link TEXT NOT NULL UNIQUE, "
         "title TEXT NOT NULL, type TEXT NOT NULL, status TEXT NOT NULL, folder TEXT NOT NULL)"},
        // 2: the file a finishing download is putting in place, so a crash right
        // then is told from one before it.
        {"ALTER TABLE tasks ADD COLUMN commit_path TEXT"},
    };
    return steps;
}

bool Exec(QSqlDatabase& db, const QString& sql, QString* error, QVariant* first = nullptr) {
    QSqlQuery query(db);
    if (!query.exec(sql)) {
        if (error)
            *error = query.lastError().text();
        return false;
    }
    if (first)
        *first = query.next() ? query.value(0) : QVariant();
    return true;
}

void Close(QSqlDatabase& db) {
    const QString name = db.connectionName();
    db.close();
    db = QSqlDatabase();
    if (!name.isEmpty())
        QSqlDatabase::removeDatabase(name);
}

bool Open(QSqlDatabase& db, const QString& path, const QString& connection, QString& error) {
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    db.setDatabaseName(path);
    // Another program reading the file (a backup, the sqlite3 shell) may hold it briefly.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=3000"));
    if (!db.open()) {
        error = db.lastError().text();
        return false;
    }
    QVariant mode;
    if (!Exec(db, QStringLiteral("PRAGMA journal_mode=WAL"), &error, &mode))
        return false;
    if (mode.toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0) {
        error = QStringLiteral("无法使用WAL日志模式（%1）").arg(mode.toString());
        return false;
    }
    // Each commit reaches the disk: a crash of the whole system loses nothing committed.
    if (!Exec(db, QStringLiteral("PRAGMA synchronous=FULL"), &error))
        return false;
    // Room for a bulk command over 100,000 rows in memory, so its transaction is not
    // spilled to the WAL half-way; reads through a mapping instead of a call per page.
    if (!Exec(db, QStringLiteral("PRAGMA cache_size=-65536"), &error) ||
        !Exec(db, QStringLiteral("PRAGMA mmap_size=268435456"), &error) ||
        !Exec(db, QStringLiteral("PRAGMA temp_store=MEMORY"), &error))
        return false;
    QVariant check;
    if (!Exec(db, QStringLiteral("PRAGMA quick_check"), &error, &check))
        return false;
    if (check.toString() != u"ok") {
        error = check.toString();
        return false;
    }
    return true;
}

} // namespace

int ListDatabaseVersion(QSqlDatabase& db) {
    QSqlQuery tables(db);
    if (!tables.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table'")))
        return -1;
    bool any = false;
    bool meta = false;
    while (tables.next()) {
        any = true;
        meta = meta || tables.value(0).toString() == u"meta";
    }
    if (!any)
        return 0;
    if (!meta)
        return -1;
    QVariant version;
    if (!Exec(db, QStringLiteral("SELECT value FROM meta WHERE key='schema_version'"), nullptr,
              &version))
        return -1;
    bool ok = false;
    const int number = version.toInt(&ok);
    return ok && number > 0 ? number : -1;
}

bool MigrateListDatabase(QSqlDatabase& db, int version, QString* error) {
    const int from = ListDatabaseVersion(db);
    if (from < 0 || version > Migrations().size()) {
        if (error)
            *error = QStringLiteral("不是可以升级的列表文件");
        return false;
    }
    if (from >= version)
        return true;
    if (!db.transaction()) {
        if (error)
            *error = db.lastError().text();
        return false;
    }
    bool ok = true;
    for (int step = from; ok && step < version; ++step) {
        for (const char* sql : Migrations().at(step))
            ok = ok && Exec(db, QString::fromLatin1(sql), error);
    }
    ok = ok && Exec(db,
                    QStringLiteral("INSERT OR REPLACE INTO meta(key, value) "
                                   "VALUES('schema_version', '%1')")
                        .arg(version),
                    error);
    if (ok && db.commit())
        return true;
    if (ok && error)
        *error = db.lastError().text();
    db.rollback();
    return false;
}

QString SetAsideDatabaseFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside;
    for (int n = 1;; ++n) {
        aside = info.dir().filePath(info.completeBaseName() + QStringLiteral(".damaged-") + stamp +
                                    (n > 1 ? QStringLiteral("-%1").arg(n) : QString()) + u'.' +
                                    info.suffix());
        if (!QFileInfo::exists(aside) && !QFileInfo::exists(aside + QStringLiteral("-wal")))
            break;
    }
    // The WAL may hold committed changes the main file has not taken in yet: it goes
    // along, so the copy set aside is as complete as it was.
    if (!QFile::rename(path, aside))
        return {};
    for (const char* companion : {"-wal", "-shm"}) {
        const QString from = path + QLatin1String(companion);
        if (QFileInfo::exists(from))
            QFile::rename(from, aside + QLatin1String(companion));
    }
    return aside;
}

OpenedStore ReplaceListDatabase(QSqlDatabase& db, const QString& path, const QString& connection,
                                const QString& reason) {
    Close(db);
    OpenedStore opened;
    opened.reason = reason;
    opened.setAsideAs = SetAsideDatabaseFile(path);
    // Never deleted: a file that cannot be moved aside (or none at all, where
    // none can be made) leaves the lists in memory.
    if (opened.setAsideAs.isEmpty())
        return opened;
    QString error;
    if (Open(db, path, connection, error) && MigrateListDatabase(db, ListSchemaVersion, &error)) {
        opened.ok = true;
    } else {
        Close(db);
        opened.reason += QStringLiteral("；新的列表文件也无法建立：") + error;
    }
    return opened;
}

OpenedStore OpenListDatabase(QSqlDatabase& db, const QString& path, const QString& connection) {
    QString error;
    if (!Open(db, path, connection, error))
        return ReplaceListDatabase(db, path, connection, error);
    const int version = ListDatabaseVersion(db);
    if (version < 0)
        return ReplaceListDatabase(db, path, connection, QStringLiteral("不是列表文件或已损坏"));
    if (version > ListSchemaVersion)
        return ReplaceListDatabase(db, path, connection,
                                   QStringLiteral("来自更新版本的程序（格式%1）").arg(version));
    if (!MigrateListDatabase(db, ListSchemaVersion, &error))
        return ReplaceListDatabase(db, path, connection, error);
    OpenedStore opened;
    opened.ok = true;
    return opened;
}
