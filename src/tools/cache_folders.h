#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The system's folder of users' home folders.
inline constexpr char SystemHomesRoot[] = "/home";

// The folder whose subfolders are the users' home folders. The system's by
// default; batch runs and tests choose another tree.
QString HomesRoot();
void SetHomesRoot(const QString& folder);

// Every home folder below the homes root (links among them are not followed),
// then root's home when the homes root is the system's and root's home is not
// among them already.
QStringList UserHomeFolders();

// Where the program's browser cache lies below a home folder.
QString CacheFolderBelowHome();

struct UserCacheFolder {
    QString user;   // the home folder's name
    QString folder; // the cache folder, ending with "/"
    QString home;
};

// The program's cache folder of each home that has one, reached through real
// folders only (a link on the way does not count).
QList<UserCacheFolder> FindUserCacheFolders(const QStringList& homes);

// Real subfolders below start (links are never followed), each folder's own
// entries before those of its subfolders. Unreadable folders and entries are
// passed over.
QStringList WalkFolders(const QString& start, bool recursive);

// Every entry below start that is not a real folder: files, links (as links),
// special files. Same order and rules as WalkFolders.
QStringList WalkFiles(const QString& start, bool recursive);
