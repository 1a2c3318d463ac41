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

// SQLite's primary result codes for a file that is no database or whose pages are
// broken; anything else (a full disk, an I/O error, a busy lock, no permission)
// says nothing about the file itself.
constexpr int SqliteCorrupt = 11;
constexpr int SqliteNotADatabase = 26;

enum class Fault { None, Damaged, Newer, Unavailable };

struct Found {
    Fault fault = Fault::None;
    QString reason;
};

Found Failed(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    const bool damaged = ok && (code == SqliteCorrupt || code == SqliteNotADatabase);
    return {damaged ? Fault::Damaged : Fault::Unavailable, error.text()};
}

// The first value of sql, or why it could not be read.
Found Query(QSqlDatabase& db, const QString& sql, QVariant* first = nullptr) {
    QSqlQuery query(db);
    if (!query.exec(sql))
        return Failed(query.lastError());
    if (first)
        *first = query.next() ? query.value(0) : QVariant();
    return {};
}

// The store's schema version: 0 for an empty file, -1 for tables that are not ours.
Found Version(QSqlDatabase& db, int& version) {
    QSqlQuery tables(db);
    if (!tables.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table'")))
        return Failed(tables.lastError());
    bool any = false;
    bool meta = false;
    while (tables.next()) {
        any = true;
        meta = meta || tables.value(0).toString() == u"meta";
    }
    if (tables.lastError().type() != QSqlError::NoError)
        return Failed(tables.lastError());
    version = any ? -1 : 0;
    if (!meta)
        return {};
    QVariant value;
    if (Found f =
            Query(db, QStringLiteral("SELECT value FROM meta WHERE key='schema_version'"), &value);
        f.fault != Fault::None)
        return f;
    bool ok = false;
    const int number = value.toInt(&ok);
    version = ok && number > 0 ? number : -1;
    return {};
}

// Opens and checks the file before anything is written to it, so a file set aside
// is as it was found.
Found Open(QSqlDatabase& db, const QString& path, const QString& connection) {
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    db.setDatabaseName(path);
    // Another program reading the file (a backup, the sqlite3 shell) may hold it briefly.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=3000"));
    if (!db.open())
        return {Fault::Unavailable, db.lastError().text()};
    // Room for a bulk command over 100,000 rows in memory, so its transaction is not
    // spilled to the WAL half-way; reads through a mapping instead of a call per page.
    for (const char* pragma :
         {"PRAGMA cache_size=-65536", "PRAGMA mmap_size=268435456", "PRAGMA temp_store=MEMORY"}) {
        if (Found f = Query(db, QString::fromLatin1(pragma)); f.fault != Fault::None)
            return f;
    }
    QVariant check;
    if (Found f = Query(db, QStringLiteral("PRAGMA quick_check"), &check); f.fault != Fault::None)
        return f;
    if (check.toString() != u"ok")
        return {Fault::Damaged, check.toString()};
    int version = 0;
    if (Found f = Version(db, version); f.fault != Fault::None)
        return f;
    if (version < 0)
        return {Fault::Damaged, QStringLiteral("不是列表文件或已损坏")};
    if (version > ListSchemaVersion)
        return {Fault::Newer, QStringLiteral("来自更新版本的程序（格式%1）").arg(version)};

    QVariant mode;
    if (Found f = Query(db, QStringLiteral("PRAGMA journal_mode=WAL"), &mode);
        f.fault != Fault::None)
        return {Fault::Unavailable, f.reason};
    if (mode.toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0)
        return {Fault::Unavailable,
                QStringLiteral("无法使用WAL日志模式（%1）").arg(mode.toString())};
    // Each commit reaches the disk: a crash of the whole system loses nothing committed.
    if (Found f = Query(db, QStringLiteral("PRAGMA synchronous=FULL")); f.fault != Fault::None)
        return {Fault::Unavailable, f.reason};
    QString error;
    if (!MigrateListDatabase(db, ListSchemaVersion, &error))
        return {Fault::Unavailable, error};
    return {};
}

} // namespace

int ListDatabaseVersion(QSqlDatabase& db) {
    int version = -1;
    return Version(db, version).fault == Fault::None ? version : -1;
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

QString SetAsideDatabaseFile(const QString& path, const QString& tag) {
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside;
    for (int n = 1;; ++n) {
        aside = info.dir().filePath(info.completeBaseName() + u'.' + tag + u'-' + stamp +
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
                                const QString& reason, const QString& tag) {
    Close(db);
    OpenedStore opened;
    opened.reason = reason;
    opened.setAsideAs = SetAsideDatabaseFile(path, tag);
    // Never deleted: a file that cannot be moved aside (or none at all, where
    // none can be made) leaves the lists in memory.
    if (opened.setAsideAs.isEmpty())
        return opened;
    if (const Found f = Open(db, path, connection); f.fault == Fault::None) {
        opened.ok = true;
    } else {
        Close(db);
        opened.reason += QStringLiteral("；新的列表文件也无法建立：") + f.reason;
    }
    return opened;
}

OpenedStore OpenListDatabase(QSqlDatabase& db, const QString& path, const QString& connection) {
    const Found found = Open(db, path, connection);
    switch (found.fault) {
    case Fault::None:
        return {true, {}, {}};
    case Fault::Damaged:
        return ReplaceListDatabase(db, path, connection, found.reason);
    case Fault::Newer:
        return ReplaceListDatabase(db, path, connection, found.reason, QStringLiteral("newer"));
    case Fault::Unavailable:
        break;
    }
    // A full disk, a read-only file or a lock held elsewhere: the file may be
    // perfectly good, so it stays where it is for the next start.
    Close(db);
    return {false, {}, found.reason};
}

bool IsDamagedStore(const QSqlError& error) {
    return Failed(error).fault == Fault::Damaged;
}
