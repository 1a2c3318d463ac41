#include "download/part_file.h"

#include "tools/file_helpers.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <sys/file.h>
#include <unistd.h>

namespace {

QString SystemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

QString PartPathFor(const QString& target, const QString& url) {
    const QByteArray hash =
        QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha1).toHex().left(8);
    return target + u'.' + QString::fromLatin1(hash) + QStringLiteral(".part");
}

QString PartMetaPath(const QString& partPath) {
    return partPath + QStringLiteral(".meta");
}

QByteArray PartMeta::ifRange() const {
    // If-Range needs a strong validator; a weak ETag would let changed bytes through.
    if (!etag.isEmpty() && !etag.startsWith("W/"))
        return etag;
    return lastModified;
}

std::optional<PartMeta> ReadPartMeta(const QString& partPath) {
    QFile file(PartMetaPath(partPath));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    PartMeta meta;
    bool sawLength = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(64 * 1024).trimmed();
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
    for (const QByteArray& value : {meta.url.toUtf8(), meta.etag, meta.lastModified}) {
        if (value.contains('\n') || value.contains('\r'))
            return false;
    }
    if (QFileInfo(PartMetaPath(partPath)).isSymLink())
        return false; // never written through a link
    const QByteArray text = "url: " + meta.url.toUtf8() + "\netag: " + meta.etag +
                            "\nlast-modified: " + meta.lastModified +
                            "\nlength: " + QByteArray::number(meta.total) + '\n';
    return WriteFileAtomically(PartMetaPath(partPath), text);
}

void RemovePartFiles(const QString& partPath) {
    if (partPath.isEmpty())
        return;
    QFile::remove(PartMetaPath(partPath));
    QFile::remove(partPath);
}

bool IsResumablePart(const QString& partPath, const QString& url) {
    const auto meta = ReadPartMeta(partPath);
    return meta && meta->url == url && !meta->ifRange().isEmpty() && QFileInfo(partPath).size() > 0;
}

PartFile::PartFile(const QString& path)
    : file_(path) {}

PartFile::~PartFile() {
    close();
}

bool PartFile::open() {
    // A link planted under the part's name would lead the body somewhere else.
    if (QFileInfo(file_.fileName()).isSymLink()) {
        error_ = QStringLiteral("部分下载的文件是一个链接");
        return false;
    }
    if (!file_.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        error_ = file_.errorString();
        return false;
    }
    // An advisory lock: a second program downloading the same address into the
    // same folder must not write into this file at the same time.
    if (::flock(file_.handle(), LOCK_EX | LOCK_NB) != 0) {
        error_ = errno == EWOULDBLOCK ? QStringLiteral("另一个下载正在写入这个文件")
                                      : SystemError(errno);
        file_.close();
        return false;
    }
    size_ = file_.size();
    if (!file_.seek(size_)) {
        error_ = file_.errorString();
        file_.close();
        return false;
    }
    return true;
}

bool PartFile::truncate() {
    if (!file_.resize(0) || !file_.seek(0)) {
        error_ = file_.errorString();
        return false;
    }
    size_ = 0;
    return true;
}

bool PartFile::append(const char* data, qint64 length) {
    while (length > 0) {
        const qint64 written = file_.write(data, length);
        if (written <= 0) {
            error_ = file_.errorString();
            return false;
        }
        data += written;
        length -= written;
        size_ += written;
    }
    return true;
}

bool PartFile::close() {
    if (!file_.isOpen())
        return true;
    const bool flushed = file_.flush();
    ::flock(file_.handle(), LOCK_UN);
    file_.close();
    return flushed && file_.error() == QFileDevice::NoError;
}
