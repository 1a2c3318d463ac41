#pragma once

#include "tools/confined_files.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>

// The system's folder of users' home folders.
inline constexpr char SystemHomesRoot[] = "/home";

// The folder whose subfolders are the users' home folders. The system's by
// default; batch runs and tests choose another tree.
QString HomesRoot();
void SetHomesRoot(const QString& folder);

// Where the program's browser cache lies below a home folder.
QString CacheFolderBelowHome();

struct UserCacheFolder {
    QString user;   // the home folder's name
    QString folder; // the cache folder, ending with "/"
    QString home;
};

// A user's cache folder that is reached only through a link (the home, its
// ".cache" or the cache folder itself): listed, never followed into.
struct LinkedCacheFolder {
    QString user;
    QString link; // the first link on the way
};

struct UserCaches {
    QStringList homes; // every real home folder found
    QList<UserCacheFolder> users;
    QList<LinkedCacheFolder> linked;
};

// Every real home folder below homesRoot (with root's home when homesRoot is
// the system's), and the program's cache folder of each home that has one,
// reached through real folders only. Home folders whose names are not valid
// text are passed over.
UserCaches FindUserCaches(const QString& homesRoot);

struct WalkedEntry {
    QString path; // for showing only when nameIntact is false
    bool nameIntact = true;
    EntryStat stat;
};

struct FolderWalk {
    // Real subfolders, each folder's own before those of its subfolders.
    QStringList folders;
    // Everything else in the same order: files, links (as links), special
    // files, and folders whose names are not valid text (not walked into).
    QList<WalkedEntry> files;
};

// Walks start (at or below anchor) without ever following a link: each step is
// opened below the one before. Unreadable folders and entries are passed over;
// abandon, when set, ends the walk early.
FolderWalk WalkCacheFolder(const QString& anchor, const QString& start,
                           const std::atomic<bool>* abandon = nullptr);
