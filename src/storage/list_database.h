#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

// The version of the stored lists this program writes. Every older store is
// brought up to it when opened; a newer one is not ours to write.
inline constexpr int ListSchemaVersion = 2;

// How opening a list store went.
struct OpenedStore {
    bool ok = false;    // db is open, checked and at ListSchemaVersion
    QString setAsideAs; // the name an unusable store was moved to; empty when none
    QString reason;     // why it was set aside, or why nothing could be opened
};

// Opens the store at path as connection (on the calling thread) in WAL mode,
// creating it when missing. A file that is damaged, is no list store, or comes from
// a newer program is set aside under a new name beside it (never deleted) and an
// empty store takes its place. Any other trouble (a full disk, a read-only file, a
// busy lock) leaves the file untouched and db closed: ok false, no setAsideAs.
OpenedStore OpenListDatabase(QSqlDatabase& db, const QString& path, const QString& connection);

// Closes db, sets its file aside and opens an empty store in its place: for damage
// found only while reading.
OpenedStore ReplaceListDatabase(QSqlDatabase& db, const QString& path, const QString& connection,
                                const QString& reason,
                                const QString& tag = QStringLiteral("damaged"));
// Whether error says the file itself is broken, rather than the disk or a lock.
bool IsDamagedStore(const QSqlError& error);

// The version of an open store: 0 for an empty file, -1 when it is no list store
// or cannot be read.
int ListDatabaseVersion(QSqlDatabase& db);
// Brings an open store from its version up to version, all in one transaction;
// false (and nothing changed) when a step failed.
bool MigrateListDatabase(QSqlDatabase& db, int version, QString* error = nullptr);

// Moves path and its WAL companions to a free name beside it (name.tag-time.suffix);
// the new path, or empty text when they could not be moved.
QString SetAsideDatabaseFile(const QString& path, const QString& tag);
