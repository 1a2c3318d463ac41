#include "tools/confined_files.h"

#include <QDir>
#include <QFile>

#include <optional>

#include <algorithm>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Clean(const QString& path) {
    return QDir::cleanPath(path);
}

// The steps from folder down to path; nothing when path is not below folder.
std::optional<QStringList> StepsBelow(const QString& folder, const QString& path) {
    const QString base = Clean(folder);
    const QString target = Clean(path);
    if (!QDir::isAbsolutePath(base) || !QDir::isAbsolutePath(target))
        return std::nullopt;
    const QString prefix = base.endsWith(u'/') ? base : base + u'/';
    if (!target.startsWith(prefix) || target.size() == prefix.size())
        return std::nullopt;
    return target.mid(prefix.size()).split(u'/');
}

// Opens each step below anchor as a real folder; the last descriptor.
UniqueFd OpenFolderChain(const QString& anchor, const QStringList& steps) {
    UniqueFd current(
        ::open(QFile::encodeName(anchor).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const QString& step : steps) {
        if (!current.valid())
            break;
        const int next = ::openat(current.get(), QFile::encodeName(step).constData(),
                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        current.reset(next);
    }
    return current;
}

} // namespace

void UniqueFd::reset(int fd) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

bool IsBelowFolder(const QString& folder, const QString& path) {
    return StepsBelow(folder, path).has_value();
}

bool RemoveConfined(const QString& anchor, const QString& root, const QString& path, bool folder) {
    if (!IsBelowFolder(root, path))
        return false;
    if (Clean(root) != Clean(anchor) && !IsBelowFolder(anchor, root))
        return false;
    std::optional<QStringList> steps = StepsBelow(anchor, path);
    if (!steps)
        return false;
    const QString last = steps->takeLast();
    const UniqueFd parent = OpenFolderChain(anchor, *steps);
    if (!parent.valid())
        return false;
    const QByteArray name = QFile::encodeName(last);
    struct stat st {};
    if (::fstatat(parent.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (folder != S_ISDIR(st.st_mode))
        return false;
    return ::unlinkat(parent.get(), name.constData(), folder ? AT_REMOVEDIR : 0) == 0;
}

UniqueFd OpenRealFolder(const QString& anchor, const QString& path) {
    if (Clean(anchor) == Clean(path))
        return OpenFolderChain(anchor, {});
    const std::optional<QStringList> steps = StepsBelow(anchor, path);
    return steps ? OpenFolderChain(anchor, *steps) : UniqueFd();
}

QString FirstLinkBelow(const QString& anchor, const QString& path) {
    const std::optional<QStringList> steps = StepsBelow(anchor, path);
    if (!steps)
        return {};
    QString current = Clean(anchor);
    for (const QString& step : *steps) {
        current += (current.endsWith(u'/') ? QString() : QStringLiteral("/")) + step;
        const EntryStat entry = StatEntry(current);
        if (entry.isLink)
            return current;
        if (!entry.exists)
            return {};
    }
    return {};
}

std::optional<QList<FolderEntry>> ReadFolder(int folderFd) {
    const int own = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    DIR* dir = own >= 0 ? ::fdopendir(own) : nullptr;
    if (!dir) {
        if (own >= 0)
            ::close(own);
        return std::nullopt;
    }
    ::rewinddir(dir);
    QList<FolderEntry> entries;
    bool failed = false;
    for (;;) {
        errno = 0;
        const dirent* item = ::readdir(dir);
        if (!item) {
            failed = errno != 0;
            break;
        }
        const QByteArray raw(item->d_name);
        if (raw == "." || raw == "..")
            continue;
        FolderEntry entry;
        entry.name = QFile::decodeName(raw);
        entry.nameIntact = QFile::encodeName(entry.name) == raw;
        struct stat st {};
        // An entry whose attributes cannot be read is passed over.
        if (::fstatat(folderFd, raw.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        entry.stat.exists = true;
        entry.stat.isLink = S_ISLNK(st.st_mode);
        entry.stat.isFolder = S_ISDIR(st.st_mode);
        entry.stat.isPlain = S_ISREG(st.st_mode);
        entry.stat.size = qint64(st.st_size);
        entries.append(entry);
    }
    ::closedir(dir);
    if (failed)
        return std::nullopt;
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return entries;
}

bool SameFolder(const QString& a, const QString& b) {
    return (!a.isEmpty() && Clean(a) == Clean(b)) || FolderIdentity(a).is(b);
}

FolderIdentity::FolderIdentity(const QString& folder) {
    struct stat st {};
    if (folder.isEmpty() || ::stat(QFile::encodeName(folder).constData(), &st) != 0 ||
        !S_ISDIR(st.st_mode))
        return;
    valid_ = true;
    device_ = quint64(st.st_dev);
    inode_ = quint64(st.st_ino);
}

bool FolderIdentity::is(const QString& path) const {
    struct stat st {};
    return valid_ && ::stat(QFile::encodeName(path).constData(), &st) == 0 &&
           quint64(st.st_dev) == device_ && quint64(st.st_ino) == inode_;
}

bool FolderIdentity::contains(const QString& path) {
    if (!valid_)
        return false;
    QString folder = Clean(path);
    QStringList seen;
    bool inside = false;
    for (;;) {
        const qsizetype slash = folder.lastIndexOf(u'/');
        if (slash < 0)
            break;
        folder = slash == 0 ? QStringLiteral("/") : folder.left(slash);
        if (const auto known = known_.constFind(folder); known != known_.constEnd()) {
            inside = *known;
            break;
        }
        seen.append(folder);
        if (is(folder)) {
            inside = true;
            break;
        }
        if (folder == u"/")
            break;
    }
    for (const QString& f : std::as_const(seen))
        known_.insert(f, inside);
    return inside;
}

EntryStat StatEntry(const QString& path) {
    EntryStat result;
    struct stat st {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return result;
    result.exists = true;
    result.isLink = S_ISLNK(st.st_mode);
    result.isFolder = S_ISDIR(st.st_mode);
    result.isPlain = S_ISREG(st.st_mode);
    result.size = qint64(st.st_size);
    return result;
}

std::optional<QByteArray> ReadRegularFile(const QString& path, qint64 maxBytes) {
    const UniqueFd fd(::open(QFile::encodeName(path).constData(),
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    QByteArray bytes(qsizetype(std::min<qint64>(maxBytes, st.st_size)), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        done += n;
    }
    bytes.truncate(done);
    return bytes;
}
