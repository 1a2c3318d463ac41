#include "download/part_file.h"

#include "tools/confined_files.h"
#include "tools/file_helpers.h"
#include "tools/text_utils.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

QString AddressHash(const QString& url) {
    return QString::fromLatin1(
        QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
}

// A descriptor of the plain file at path, never through a link and never blocking
// on a special file; -1 with errno otherwise.
int OpenPlainFile(const QByteArray& path, int flags) {
    const int fd = ::open(path.constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

QString PartPathFor(const QString& target, const QString& url) {
    return target + u'.' + AddressHash(url) + QStringLiteral(".part");
}

QString PartMetaPath(const QString& partPath) {
    return partPath + QStringLiteral(".meta");
}

QUrl DownloadUrl(const QString& key) {
    return QUrl(TrimSpaces(QString(key).replace(QStringLiteral("&amp;"), QStringLiteral("&"))));
}

QString DownloadAddress(const QString& key) {
    return DownloadUrl(key).toString();
}

QByteArray PartMeta::ifRange() const {
    // If-Range needs a strong validator; a weak ETag would let changed bytes through.
    if (!etag.isEmpty() && !etag.startsWith("W/"))
        return etag;
    return lastModified;
}

std::optional<PartMeta> ReadPartMeta(const QString& partPath) {
    // A record is a few short lines; anything else planted there is not one.
    const std::optional<QByteArray> text = ReadRegularFile(PartMetaPath(partPath), 64 * 1024);
    if (!text)
        return std::nullopt;
    PartMeta meta;
    bool sawLength = false;
    for (const QByteArray& raw : text->split('\n')) {
        const QByteArray line = raw.trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray key = line.left(colon);
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (key == "url") {
            meta.url = QString::fromUtf8(value);
        } else if (key == "etag") {
            meta.etag = value;
        } else if (key == "last-modified") {
            meta.lastModified = value;
        } else if (key == "content-type") {
            meta.contentType = QString::fromLatin1(value);
        } else if (key == "length") {
            bool ok = false;
            meta.total = value.toLongLong(&ok);
            sawLength = ok;
        }
    }
    if (meta.url.isEmpty() || !sawLength)
        return std::nullopt; // cut short: trust nothing in it
    return meta;
}

bool WritePartMeta(const QString& partPath, const PartMeta& meta) {
    // Header values cannot hold line breaks; a hostile one is refused rather than trusted.
    const QByteArray type = meta.contentType.toLatin1();
    for (const QByteArray& value : {meta.url.toUtf8(), meta.etag, meta.lastModified, type}) {
        if (value.contains('\n') || value.contains('\r'))
            return false;
    }
    if (QFileInfo(PartMetaPath(partPath)).isSymLink())
        return false; // never written through a link
    QByteArray text = "url: " + meta.url.toUtf8() + "\netag: " + meta.etag +
                      "\nlast-modified: " + meta.lastModified +
                      "\nlength: " + QByteArray::number(meta.total) + '\n';
    if (!type.isEmpty())
        text += "content-type: " + type + '\n';
    return WriteFileAtomically(PartMetaPath(partPath), text);
}

void RemovePartFiles(const QString& partPath) {
    if (partPath.isEmpty())
        return;
    QFile::remove(PartMetaPath(partPath));
    QFile::remove(partPath);
}

bool RemoveTaskPartFiles(const QString& partPath, const QString& address) {
    if (partPath.isEmpty())
        return true;
    // Whose it is: the record names the address; without one, the name carries its hash.
    const std::optional<PartMeta> meta = ReadPartMeta(partPath);
    const bool ours =
        meta ? meta->url == address
             : partPath.endsWith(u'.' + AddressHash(address) + QStringLiteral(".part"));
    if (!ours)
        return false;
    const QByteArray path = QFile::encodeName(partPath);
    const UniqueFd fd(OpenPlainFile(path, O_RDONLY));
    if (fd.valid()) {
        // A running download holds it locked: it is that download's to finish.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            return false;
    }
    QFile::remove(PartMetaPath(partPath));
    if (fd.valid() || AnythingExists(partPath))
        QFile::remove(partPath);
    return !AnythingExists(partPath);
}

bool IsResumablePart(const QString& partPath, const QString& url, bool withoutValidator) {
    const auto meta = ReadPartMeta(partPath);
    return meta && meta->url == url && (withoutValidator || !meta->ifRange().isEmpty()) &&
           QFileInfo(partPath).size() > 0;
}

PartFile::PartFile(const QString& path)
    : path_(path) {}

PartFile::~PartFile() {
    close();
}

bool PartFile::fail(int code) {
    error_ = SystemError(code);
    return false;
}

bool PartFile::open() {
    const QByteArray name = QFile::encodeName(path_);
    const int fd = OpenPlainFile(name, O_RDWR | O_CREAT);
    if (fd < 0) {
        // A link or a special file planted under the part's name would lead the body elsewhere.
        if (errno == ELOOP || errno == EINVAL) {
            error_ = QStringLiteral("部分下载的文件是一个链接或特殊文件");
            return false;
        }
        return fail(errno);
    }
    // An advisory lock: a second download of the same address into the same
    // folder (this program or another) must not write into this file meanwhile.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        ::close(fd);
        if (code != EWOULDBLOCK)
            return fail(code);
        error_ = QStringLiteral("另一个下载正在写入这个文件");
        return false;
    }
    // Locked: the file must still be the one under the name; the download that
    // held it may have put it in place of its target meanwhile.
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) != 0 || ::lstat(name.constData(), &named) != 0 ||
        opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
        ::close(fd);
        error_ = QStringLiteral("另一个下载正在写入这个文件");
        return false;
    }
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0) {
        const int code = errno;
        ::close(fd);
        return fail(code);
    }
    fd_ = fd;
    size_ = qint64(end);
    return true;
}

bool PartFile::truncate() {
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0)
        return fail(errno);
    size_ = 0;
    return true;
}

bool PartFile::append(const char* data, qint64 length) {
    while (length > 0) {
        const ssize_t written = ::write(fd_, data, size_t(length));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return fail(written < 0 ? errno : ENOSPC);
        data += written;
        length -= written;
        size_ += written;
    }
    return true;
}

bool PartFile::sync() {
    return ::fsync(fd_) == 0 || fail(errno);
}

void PartFile::close() {
    if (fd_ < 0)
        return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}
