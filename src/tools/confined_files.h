#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// File operations confined to a folder: every step below the anchor folder is
// taken without following symbolic links, so a link inside the folder (or one
// swapped in later) never leads an operation outside it.

// Closes a descriptor when it goes out of scope.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1)
        : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept
        : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~UniqueFd() { reset(); }
    void reset(int fd = -1);
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

// path cleaned, lying strictly below folder; both absolute.
bool IsBelowFolder(const QString& folder, const QString& path);

// The folders from anchor down to path (path below anchor) are all real folders,
// none a link. anchor itself is taken as given.
bool IsRealFolderBelow(const QString& anchor, const QString& path);

// Removes the directory entry at path: a file, a link (the link itself) or any
// other non-folder; with folder set, an empty real folder instead. path must lie
// below root, root at or below anchor, and no step from anchor down is a link.
// False when anything did not hold or the removal failed.
bool RemoveConfined(const QString& anchor, const QString& root, const QString& path, bool folder);

struct EntryStat {
    bool exists = false;
    bool isLink = false;
    bool isFolder = false; // a real folder, not a link to one
    qint64 size = 0;       // the entry's own size (a link's is its target text's length)
};

// What is at path itself, without following a final link.
EntryStat StatEntry(const QString& path);

// Reads up to maxBytes of the regular file at path without following a final
// link and without blocking on special files; nothing when it is not a readable
// regular file.
std::optional<QByteArray> ReadRegularFile(const QString& path, qint64 maxBytes);
