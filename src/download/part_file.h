#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

// The unfinished body of a download lives beside its target, named from the
// target and a short hash of the address: two tasks of the same name never share
// one, and a later run for the same address finds it again.
QString PartPathFor(const QString& target, const QString& url);
// The resume record kept beside a part file.
QString PartMetaPath(const QString& partPath);

// The address a task's key is fetched from, as part records name it.
QUrl DownloadUrl(const QString& key);
QString DownloadAddress(const QString& key);

// What a kept part file was downloaded from.
struct PartMeta {
    QString url;
    QByteArray etag;
    QByteArray lastModified;
    qint64 total = -1;        // size of the whole file, -1 when not announced
    QString contentType = {}; // of the whole answer, without parameters; may be empty

    // The validator for If-Range: a strong ETag, else Last-Modified; empty when
    // the part cannot be resumed safely.
    QByteArray ifRange() const;
};

std::optional<PartMeta> ReadPartMeta(const QString& partPath);
bool WritePartMeta(const QString& partPath, const PartMeta& meta);
// Removes a part file and its record; either may be missing. Only for the
// transfer that holds the part open.
void RemovePartFiles(const QString& partPath);
// Removes a task's kept part and its record, but only when they were kept for
// address and no running download holds the part; true when nothing of it is left.
bool RemoveTaskPartFiles(const QString& partPath, const QString& address);
// A part file that a later attempt for url can continue: one with a validator,
// or with withoutValidator any recorded one.
bool IsResumablePart(const QString& partPath, const QString& url, bool withoutValidator = false);

// The open part file of a running transfer, locked against a second download
// writing the same one, and kept locked until it is closed (after it was put in
// place). Writes append at the end and are never buffered.
class PartFile {
public:
    explicit PartFile(const QString& path);
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // Opens (creating when missing) and locks a plain file, never through a link;
    // false with errorText() otherwise.
    bool open();
    bool isOpen() const { return fd_ >= 0; }
    qint64 size() const { return size_; }
    // Empties the file for a fresh start.
    bool truncate();
    bool append(const char* data, qint64 length);
    // Makes the bytes written so far durable.
    bool sync();
    // Unlocks and closes.
    void close();
    QString errorText() const { return error_; }
    QString path() const { return path_; }

private:
    bool fail(int code);

    QString path_;
    int fd_ = -1;
    qint64 size_ = 0;
    QString error_;
};
