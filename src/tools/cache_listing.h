#pragma once

#include "tools/cache_folders.h"
#include "tools/cache_rows.h"
#include "tools/cookie_source.h"

#include <QList>
#include <QStringList>

#include <atomic>

// What the cache viewer reads from disk and deletes there. Plain functions on
// copied data, so they run on a worker thread while the window stays usable.

// Where a browser profile keeps its data: cookies and the like in storage, the
// HTTP cache below cache.
struct ProfileFolders {
    QString storage;
    QString cache;
};

// A profile's own cache as the disk holds it.
struct OwnCacheListing {
    // One row per entry file, its address read from the file itself (rows of
    // unreadable entries have neither address nor file); or, when the entries'
    // folder is reached through a link, one row for that link.
    QList<CacheRow> entries;
    QList<CookieId> cookies; // the cookie database's
    bool failed = false;     // the entries' folder or the cookie database could not be read
};
OwnCacheListing ListOwnCache(const ProfileFolders& mine);

struct AllUsersListing {
    QStringList homes;
    QList<UserCacheFolder> users;
    QStringList folders;
    QList<CacheRow> rows;
};
// Every file in the cache folders of the homes below homesRoot; a cache folder
// reached only through a link is one row for that link, never deleted.
AllUsersListing ListAllUserCaches(const QString& homesRoot,
                                  const std::atomic<bool>* abandon = nullptr);

// What a deletion removes on disk: each row's file (with an entry's other
// files) as the deletion rule says, then the emptied folders.
struct DiskDeletion {
    QList<CacheRow> rows;
    QList<UserCacheFolder> users;
    QStringList folders;
    QString liveCache;       // the running browser's cache folder, if any
    bool liveAllowed = true; // its files may go (no page is loading)
};
void DeleteOnDisk(const DiskDeletion& deletion, const std::atomic<bool>* abandon = nullptr);

// A file that a deletion of rows would remove lies in folder (judged by identity).
bool AnyMeantForDeletionIn(const QList<CacheRow>& rows, const QString& folder);

// Removes every listed folder that is empty, deepest first.
void RemoveEmptyFolders(const QStringList& folders, const QList<UserCacheFolder>& users);

// What the copy tool gets for rows.
struct CopySources {
    QStringList files;
    QStringList leftOut; // addresses of entries whose content cannot be taken as it was
};
// Files of rows in the users' cache folders are handed over as they are; an
// entry of the browser's own cache is not a file of its own, so its content is
// written to stagingFolder under the address's file name. Only plain files go:
// links, special files and names that text cannot carry are left out.
CopySources StageCopySources(const QList<CacheRow>& rows, const QString& stagingFolder);
