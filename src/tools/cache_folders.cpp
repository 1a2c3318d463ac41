#include "tools/cache_folders.h"

#include "tools/file_helpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <pwd.h>

namespace {

QString homesRoot = QString::fromLatin1(SystemHomesRoot);

QString RootHome() {
    const passwd* entry = ::getpwuid(0);
    return entry && entry->pw_dir ? QDir::cleanPath(QFile::decodeName(entry->pw_dir)) : QString();
}

QString Join(const QString& folder, const QString& name) {
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

void Walk(int folderFd, const QString& folder, FolderWalk& out, const std::atomic<bool>* abandon) {
    if (abandon && abandon->load())
        return;
    const std::optional<QList<FolderEntry>> entries = ReadFolder(folderFd);
    if (!entries)
        return;
    QList<FolderEntry> subfolders;
    for (const FolderEntry& entry : *entries) {
        const QString path = Join(folder, entry.name);
        if (entry.stat.isFolder && entry.nameIntact) {
            subfolders.append(entry);
            out.folders.append(path);
        } else {
            out.files.append({path, entry.nameIntact, entry.stat});
        }
    }
    for (const FolderEntry& sub : std::as_const(subfolders)) {
        // Opened below the folder itself: a folder swapped for a link meanwhile is not entered.
        const UniqueFd fd(::openat(folderFd, QFile::encodeName(sub.name).constData(),
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (fd.valid())
            Walk(fd.get(), Join(folder, sub.name), out, abandon);
    }
}

} // namespace

QString HomesRoot() {
    return homesRoot;
}

void SetHomesRoot(const QString& folder) {
    homesRoot = QDir(folder).absolutePath();
}

QString CacheFolderBelowHome() {
    QString app = QCoreApplication::applicationName();
    if (app.isEmpty())
        app = QStringLiteral("Quillmarsh");
    return QStringLiteral(".cache/") + app + QStringLiteral("/browser");
}

UserCaches FindUserCaches(const QString& root) {
    UserCaches found;
    const QString below = CacheFolderBelowHome();
    const UniqueFd rootFd(
        ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    QList<QPair<QString, QString>> candidates; // home, the folder its cache is judged from
    if (const std::optional<QList<FolderEntry>> entries =
            rootFd.valid() ? ReadFolder(rootFd.get()) : std::nullopt) {
        for (const FolderEntry& entry : *entries) {
            if (!entry.nameIntact || !(entry.stat.isFolder || entry.stat.isLink))
                continue;
            const QString home = Join(QDir::cleanPath(root), entry.name);
            if (entry.stat.isFolder)
                found.homes.append(home);
            candidates.append({home, QDir::cleanPath(root)});
        }
    }
    if (QDir::cleanPath(root) == QLatin1String(SystemHomesRoot)) {
        const QString rootHome = RootHome();
        if (!rootHome.isEmpty() && !found.homes.contains(rootHome) &&
            StatEntry(rootHome).isFolder) {
            found.homes.append(rootHome);
            candidates.append({rootHome, rootHome});
        }
    }
    for (const auto& [home, anchor] : std::as_const(candidates)) {
        const QString user = home.mid(home.lastIndexOf(u'/') + 1);
        const QString folder = Join(home, below);
        // Another user's links must not lead a deletion into other folders: a
        // cache folder behind one is only named.
        const QString link = FirstLinkBelow(anchor, folder);
        if (link.isEmpty() && OpenRealFolder(anchor, folder).valid())
            found.users.append({user, folder + u'/', home});
        else if (!link.isEmpty() && FolderExists(folder))
            found.linked.append({user, link});
    }
    return found;
}

FolderWalk WalkCacheFolder(const QString& anchor, const QString& start,
                           const std::atomic<bool>* abandon) {
    FolderWalk walk;
    QString folder = QDir::cleanPath(start);
    const UniqueFd fd = OpenRealFolder(anchor, folder);
    if (fd.valid())
        Walk(fd.get(), folder, walk, abandon);
    return walk;
}
