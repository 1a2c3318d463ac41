#include "tools/confined_files.h"

#include <QDir>
#include <QFile>

#include <optional>

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

bool IsRealFolderBelow(const QString& anchor, const QString& path) {
    const std::optional<QStringList> steps = StepsBelow(anchor, path);
    if (!steps)
        return false;
    return OpenFolderChain(anchor, *steps).valid();
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

EntryStat StatEntry(const QString& path) {
    EntryStat result;
    struct stat st {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return result;
    result.exists = true;
    result.isLink = S_ISLNK(st.st_mode);
    result.isFolder = S_ISDIR(st.st_mode);
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
