#include "tools/cache_folders.h"

#include "tools/confined_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <pwd.h>

namespace {

QString homesRoot = QString::fromLatin1(SystemHomesRoot);

QString RootHome() {
    const passwd* entry = ::getpwuid(0);
    return entry && entry->pw_dir ? QDir::cleanPath(QFile::decodeName(entry->pw_dir)) : QString();
}

// Walks start; files or folders collected as asked.
void Walk(const QString& start, bool recursive, bool wantFolders, QStringList& out) {
    QString folder = start;
    if (!folder.endsWith(u'/'))
        folder += u'/';
    const QDir dir(folder);
    if (!QDir::isAbsolutePath(folder) || !dir.isReadable())
        return;
    const QStringList names = dir.entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    QStringList subfolders;
    for (const QString& name : names) {
        const QString path = folder + name;
        const EntryStat entry = StatEntry(path);
        if (!entry.exists)
            continue;
        if (entry.isFolder)
            subfolders.append(path);
        if (entry.isFolder == wantFolders)
            out.append(path);
    }
    if (!recursive)
        return;
    for (const QString& sub : std::as_const(subfolders))
        Walk(sub, true, wantFolders, out);
}

} // namespace

QString HomesRoot() {
    return homesRoot;
}

void SetHomesRoot(const QString& folder) {
    homesRoot = QDir(folder).absolutePath();
}

QStringList UserHomeFolders() {
    QStringList homes = WalkFolders(homesRoot, false);
    if (QDir::cleanPath(homesRoot) == QLatin1String(SystemHomesRoot)) {
        const QString root = RootHome();
        if (!root.isEmpty() && !homes.contains(root) && StatEntry(root).isFolder)
            homes.append(root);
    }
    return homes;
}

QString CacheFolderBelowHome() {
    QString app = QCoreApplication::applicationName();
    if (app.isEmpty())
        app = QStringLiteral("Quillmarsh");
    return QStringLiteral(".cache/") + app + QStringLiteral("/browser");
}

QList<UserCacheFolder> FindUserCacheFolders(const QStringList& homes) {
    QList<UserCacheFolder> found;
    for (const QString& home : homes) {
        const QString folder = QDir(home).filePath(CacheFolderBelowHome());
        // Another user's links must not lead a deletion into other folders.
        if (!IsRealFolderBelow(home, folder))
            continue;
        found.append({home.mid(home.lastIndexOf(u'/') + 1), folder + u'/', home});
    }
    return found;
}

QStringList WalkFolders(const QString& start, bool recursive) {
    QStringList out;
    Walk(start, recursive, true, out);
    return out;
}

QStringList WalkFiles(const QString& start, bool recursive) {
    QStringList out;
    Walk(start, recursive, false, out);
    return out;
}
