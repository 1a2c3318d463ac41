#include "tools/cache_entry.h"

#include "tools/confined_files.h"
#include "tools/file_helpers.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRegularExpression>
#include <QtEndian>

namespace {

constexpr quint64 EntryMagic = 0xfcfb6d1ba7725c30ULL;
// magic (8), version (4), key length (4), key hash (4), padding (4)
constexpr qsizetype EntryHeaderSize = 24;
// Longest key read; the engine refuses addresses beyond 2 MB.
constexpr qint64 MaxKeyBytes = 2 * 1024 * 1024 + 64;
constexpr qint64 FirstRead = 4096;

const QString EntrySuffix = QStringLiteral("_0");

} // namespace

QString CacheEntryFolder(const QString& cacheFolder) {
    const QDir cache(cacheFolder);
    const QString current = cache.filePath(QStringLiteral("Cache/Cache_Data"));
    const QString older = cache.filePath(QStringLiteral("Cache"));
    // Older engines kept the entries straight in "Cache".
    if (!FolderExists(current) && FolderExists(older) &&
        FileExists(QDir(older).filePath(QStringLiteral("index"))))
        return older;
    return current;
}

bool IsCacheEntryFileName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{16}_0$"));
    return pattern.match(name).hasMatch();
}

QString CacheEntryFileName(const QByteArray& key) {
    const QByteArray digest = QCryptographicHash::hash(key, QCryptographicHash::Sha1);
    const quint64 hash = qFromLittleEndian<quint64>(digest.constData());
    return QStringLiteral("%1").arg(hash, 16, 16, QLatin1Char('0')) + EntrySuffix;
}

QStringList CacheEntryCompanionNames(const QString& entryFileName) {
    if (!IsCacheEntryFileName(entryFileName))
        return {};
    const QString hash = entryFileName.left(16);
    return {hash + QStringLiteral("_1"), hash + QStringLiteral("_s")};
}

std::optional<QByteArray> ReadCacheEntryKey(const QString& entryFilePath) {
    const QString name = entryFilePath.mid(entryFilePath.lastIndexOf(u'/') + 1);
    if (!IsCacheEntryFileName(name))
        return std::nullopt;
    std::optional<QByteArray> bytes = ReadRegularFile(entryFilePath, FirstRead);
    if (!bytes || bytes->size() < EntryHeaderSize)
        return std::nullopt;
    if (qFromLittleEndian<quint64>(bytes->constData()) != EntryMagic)
        return std::nullopt;
    const quint32 keyLength = qFromLittleEndian<quint32>(bytes->constData() + 12);
    if (keyLength == 0 || keyLength > MaxKeyBytes)
        return std::nullopt;
    if (EntryHeaderSize + qsizetype(keyLength) > bytes->size()) {
        bytes = ReadRegularFile(entryFilePath, EntryHeaderSize + keyLength);
        if (!bytes || bytes->size() < EntryHeaderSize + qsizetype(keyLength))
            return std::nullopt;
    }
    const QByteArray key = bytes->mid(EntryHeaderSize, keyLength);
    if (CacheEntryFileName(key) != name)
        return std::nullopt;
    return key;
}

QString UrlFromCacheKey(const QByteArray& key) {
    const QString text = QString::fromUtf8(key);
    // "<credentials>/<upload id>/[partition ]address"
    static const QRegularExpression prefix(QStringLiteral("^[0-9]/-?[0-9]+/"));
    const QRegularExpressionMatch match = prefix.match(text);
    if (!match.hasMatch())
        return text;
    QString rest = text.mid(match.capturedLength());
    // A partitioned key names the top-level sites first, separated by spaces; an
    // address itself never holds a space.
    if (rest.startsWith(u'_') && rest.contains(u' '))
        rest = rest.mid(rest.lastIndexOf(u' ') + 1);
    return rest;
}
