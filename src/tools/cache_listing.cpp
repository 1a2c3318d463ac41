#include "tools/cache_listing.h"

#include "download/save_names.h"
#include "tools/cache_body.h"
#include "tools/cache_entry.h"
#include "tools/confined_files.h"

#include <QDir>
#include <QUrl>

#include <algorithm>

namespace {

// The row of a folder that is a link: shown and removed as a link.
CacheRow LinkRow(const QString& link, const QString& anchor) {
    CacheRow row;
    row.kind = CacheRowKind::CacheEntry;
    row.text = QUrl::fromLocalFile(link).toString();
    row.size = StatEntry(link).size;
    row.filePath = link;
    row.isLink = true;
    row.anchor = anchor;
    row.root = anchor;
    return row;
}

// The name a staged entry's content is given: the address's file name.
QString StagedName(const QString& address) {
    const QString name =
        SanitizeFileName(QUrl(address).fileName(QUrl::FullyDecoded).replace(u'/', u'_'));
    return name.isEmpty() ? QStringLiteral("index") : name;
}

} // namespace

OwnCacheListing ListOwnCache(const ProfileFolders& mine) {
    OwnCacheListing out;
    const QString entryFolder = CacheEntryFolder(mine.cache);
    const QString link = FirstLinkBelow(mine.cache, entryFolder);
    if (!link.isEmpty()) {
        out.entries.append(LinkRow(link, mine.cache));
    } else if (StatEntry(entryFolder).exists) {
        const UniqueFd fd = OpenRealFolder(mine.cache, entryFolder);
        const std::optional<QList<FolderEntry>> names =
            fd.valid() ? ReadFolder(fd.get()) : std::nullopt;
        if (!names)
            out.failed = true;
        for (const FolderEntry& entry : names.value_or(QList<FolderEntry>())) {
            if (!entry.nameIntact || entry.stat.isFolder || !IsCacheEntryFileName(entry.name))
                continue;
            const QString path = QDir(entryFolder).filePath(entry.name);
            CacheRow row;
            row.kind = CacheRowKind::CacheEntry;
            if (const std::optional<QByteArray> key = ReadCacheEntryKey(path)) {
                row.text = UrlFromCacheKey(*key);
                row.type = AddressType(row.text);
                row.filePath = path;
                row.size = entry.stat.size;
                row.anchor = mine.cache;
                row.root = entryFolder;
            }
            out.entries.append(row);
        }
    }
    if (const std::optional<QList<CookieId>> stored =
            ReadCookieDatabase(CookieDatabasePath(mine.storage)))
        out.cookies = *stored;
    else
        out.failed = true;
    return out;
}

AllUsersListing ListAllUserCaches(const QString& homesRoot, const std::atomic<bool>* abandon) {
    AllUsersListing out;
    const UserCaches caches = FindUserCaches(homesRoot);
    out.homes = caches.homes;
    out.users = caches.users;
    for (const UserCacheFolder& user : std::as_const(out.users)) {
        const FolderWalk walk = WalkCacheFolder(user.home, user.folder, abandon);
        out.folders += walk.folders;
        for (const WalkedEntry& entry : walk.files) {
            CacheRow row;
            row.kind = CacheRowKind::FolderFile;
            row.text = CacheTexts::UserPrefix + user.user;
            row.type = AddressType(entry.path);
            row.size = entry.stat.size;
            row.filePath = entry.path;
            row.isLink = entry.stat.isLink;
            row.leaveAlone = !entry.nameIntact;
            row.anchor = user.home;
            row.root = user.folder;
            out.rows.append(row);
        }
    }
    for (const LinkedCacheFolder& linked : caches.linked) {
        CacheRow row;
        row.kind = CacheRowKind::FolderFile;
        row.text = CacheTexts::UserPrefix + linked.user;
        row.type = AddressType(linked.link);
        row.size = StatEntry(linked.link).size;
        row.filePath = linked.link;
        row.isLink = true;
        row.leaveAlone = true;
        out.rows.append(row);
    }
    return out;
}

void DeleteOnDisk(const DiskDeletion& deletion, const std::atomic<bool>* abandon) {
    FolderIdentity live(deletion.liveCache);
    auto remove = [&](const CacheRow& row, const QString& path) {
        if (!deletion.liveAllowed && live.contains(path))
            return;
        RemoveConfined(row.anchor, row.root, path, false);
    };
    for (const CacheRow& row : deletion.rows) {
        if (abandon && abandon->load())
            return;
        if (row.leaveAlone || row.filePath.isEmpty() || row.kind == CacheRowKind::Visited ||
            !MeantForDeletion(row))
            continue;
        remove(row, row.filePath);
        if (row.kind != CacheRowKind::CacheEntry)
            continue;
        const QString folder = row.filePath.left(row.filePath.lastIndexOf(u'/') + 1);
        for (const QString& companion : CacheEntryCompanionNames(row.filePath.mid(folder.size())))
            remove(row, folder + companion);
    }
    RemoveEmptyFolders(deletion.folders, deletion.users);
}

bool AnyMeantForDeletionIn(const QList<CacheRow>& rows, const QString& folder) {
    FolderIdentity identity(folder);
    if (!identity.valid())
        return false;
    return std::any_of(rows.begin(), rows.end(), [&identity](const CacheRow& row) {
        return !row.filePath.isEmpty() && !row.leaveAlone && MeantForDeletion(row) &&
               identity.contains(row.filePath);
    });
}

void RemoveEmptyFolders(const QStringList& folders, const QList<UserCacheFolder>& users) {
    for (qsizetype i = folders.size() - 1; i >= 0; --i) {
        const QString& folder = folders.at(i);
        if (folder.isEmpty())
            continue;
        for (const UserCacheFolder& user : users) {
            if (IsBelowFolder(user.folder, folder)) {
                // Only an empty folder goes; a failure is no concern here.
                RemoveConfined(user.home, user.folder, folder, true);
                break;
            }
        }
    }
}

CopySources StageCopySources(const QList<CacheRow>& rows, const QString& stagingFolder) {
    CopySources out;
    int staged = 0;
    for (const CacheRow& row : rows) {
        if (row.filePath.isEmpty() || row.leaveAlone || row.isLink)
            continue;
        // Only what is a plain file right now; a link swapped in is not offered.
        if (!StatEntry(row.filePath).isPlain)
            continue;
        if (row.kind != CacheRowKind::CacheEntry) {
            out.files.append(row.filePath);
            continue;
        }
        // Each in a folder of its own, so two addresses of one name keep it.
        const QString folder = QDir(stagingFolder).filePath(QString::number(++staged));
        const QString target = QDir(folder).filePath(StagedName(row.text));
        if (QDir().mkpath(folder) &&
            ExtractCacheEntryBody(row.filePath, target) == BodyResult::Written)
            out.files.append(target);
        else
            out.leftOut.append(row.text);
    }
    return out;
}
