#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The browser engine's HTTP disk cache ("simple" backend): one file per entry,
// named <16 hex digits>_0 after the first eight bytes of the SHA-1 of the
// entry's key (little-endian), and holding that key right after its header.

// The folder holding the entry files of a profile whose cache path is cacheFolder.
QString CacheEntryFolder(const QString& cacheFolder);

// name has the form of an entry file.
bool IsCacheEntryFileName(const QString& name);

// The entry file's name for a key.
QString CacheEntryFileName(const QByteArray& key);

// The other files that belong to the entry whose file is entryFileName
// (second data stream, sparse data), by name, in the same folder.
QStringList CacheEntryCompanionNames(const QString& entryFileName);

// The key stored in an entry file, when the header is the engine's and the
// key hashes to the file's name; nothing otherwise (never a guess).
std::optional<QByteArray> ReadCacheEntryKey(const QString& entryFilePath);

// The resource address of a cache key ("1/0/" prefixes and partition
// prefixes removed).
QString UrlFromCacheKey(const QByteArray& key);
