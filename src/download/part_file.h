#pragma once

#include <QFile>
#include <QString>

#include <optional>

// The unfinished body of a download lives beside its target, named from the
// target and a short hash of the address: two tasks of the same name never share
// one, and a later run for the same address finds it again.
QString PartPathFor(const QString& target, const QString& url);
// The resume record kept beside a part file.
QString PartMetaPath(const QString& partPath);

// What a kept part file was downloaded from.
struct PartMeta {
    QString url;
    QByteArray etag;
    QByteArray lastModified;
    qint64 total = -1; // size of the whole file, -1 when not announced

    // The validator for If-Range: a strong ETag, else Last-Modified; empty when
    // the part cannot be resumed safely.
    QByteArray ifRange() const;
};

std::optional<PartMeta> ReadPartMeta(const QString& partPath);
bool WritePartMeta(const QString& partPath, const PartMeta& meta);
// Removes a part file and its record; either may be missing.
void RemovePartFiles(const QString& partPath);
// A part file that a later attempt for url can continue.
bool IsResumablePart(const QString& partPath, const QString& url);

// The open part file of a running transfer, locked against a second program
// writing the same one. Writes append at the end; the file is never buffered.
class PartFile {
public:
    explicit PartFile(const QString& path);
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // Opens (creating when missing) and locks; false with errorText() otherwise.
    bool open();
    bool isOpen() const { return file_.isOpen(); }
    qint64 size() const { return size_; }
    // Empties the file for a fresh start.
    bool truncate();
    bool append(const char* data, qint64 length);
    // Closes and unlocks; false when the last writes did not reach the file.
    bool close();
    QString errorText() const { return error_; }
    QString path() const { return file_.fileName(); }

private:
    QFile file_;
    qint64 size_ = 0;
    QString error_;
};
