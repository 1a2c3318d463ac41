#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// Writes a cache entry file as the browser engine lays it out (header, key,
// body) into folder, named after the key; its path.
QString WriteCacheEntry(const QString& folder, const QByteArray& key, const QByteArray& body);

// A cookie database as the browser engine keeps it, holding the cookies
// given as name, host, path triples.
bool WriteCookieDatabase(const QString& path, const QList<QStringList>& cookies);

// A tree of home folders whose one cache folder holds what a hostile user may
// put there: text files, nested empty folders, a read-only file and links that
// point outside (to a file, a folder, a folder of other files, nowhere).
// Other homes reach their cache folder only through links, or are links.
struct HostileHomes {
    QString homes;   // the homes root
    QString outside; // everything that must never change
    QString cache;   // alice's cache folder, no trailing "/"
    QString alice;
};
HostileHomes MakeHostileHomes(const QString& base);

// Every entry below root with its kind, mode, size and content (links: their target).
QMap<QString, QString> TreeSnapshot(const QString& root);

// Paths below root (relative), sorted.
QStringList RelativeEntries(const QString& root);
