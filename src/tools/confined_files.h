#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
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

// Removes the directory entry at path: a file, a link (the link itself) or any
// other non-folder; with folder set, an empty real folder instead. path must lie
// below root, root at or below anchor, and no step from anchor down is a link.
// False when anything did not hold or the removal failed.
bool RemoveConfined(const QString& anchor, const QString& root, const QString& path, bool folder);

struct EntryStat {
    bool exists = false;
    bool isLink = false;
    bool isFolder = false; // a real folder, not a link to one
    bool isPlain = false;  // a regular file, not a link to one
    qint64 size = 0;       // the entry's own size (a link's is its target text's length)
};

// What is at path itself, without following a final link.
EntryStat StatEntry(const QString& path);

// path (anchor itself or below it) opened as a real folder, every step below
// anchor taken without following a link; invalid otherwise.
UniqueFd OpenRealFolder(const QString& anchor, const QString& path);

// The first entry on the way from anchor down to path (path included) that is
// a link; empty when there is none or path is not below anchor.
QString FirstLinkBelow(const QString& anchor, const QString& path);

struct FolderEntry {
    QString name;
    // The name's bytes survive the way through text (valid UTF-8). Otherwise
    // name is only for showing: a path built from it leads to another entry.
    bool nameIntact = true;
    EntryStat stat;
};

// The entries of an open folder without "." and "..", sorted by name, each
// looked at without following a link; nothing when the folder cannot be read.
std::optional<QList<FolderEntry>> ReadFolder(int folderFd);

// a and b name one folder: the same text, or the same device and inode.
bool SameFolder(const QString& a, const QString& b);

// Tells whether paths lie in one folder by its device and inode, so another
// spelling of the same folder (a link on the way, a bind mount) counts too.
class FolderIdentity {
public:
    explicit FolderIdentity(const QString& folder);
    bool valid() const { return valid_; }
    // path is that folder.
    bool is(const QString& path) const;
    // A folder above path is that folder.
    bool contains(const QString& path);

private:
    bool valid_ = false;
    quint64 device_ = 0;
    quint64 inode_ = 0;
    QHash<QString, bool> known_; // folders looked at, and whether they lie in it
};

// Reads up to maxBytes of the regular file at path without following a final
// link and without blocking on special files; nothing when it is not a readable
// regular file.
std::optional<QByteArray> ReadRegularFile(const QString& path, qint64 maxBytes);
