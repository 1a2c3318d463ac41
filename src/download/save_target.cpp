#include "download/save_target.h"

#include "download/save_names.h"
#include "settings/settings_keys.h"
#include "tools/file_helpers.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

// Gives the choice below access to the holders under one lock.
struct SaveTargetChooser {
    static ChosenTarget choose(NameReservations& r, const SaveNaming& n, qint64 owner) {
        QMutexLocker lock(&r.mutex_);
        const auto heldByOther = [&r, owner](const QString& path) {
            const qint64 holder = r.holders_.value(path, 0);
            return holder != 0 && holder != owner;
        };
        ChosenTarget chosen;
        if (n.policy == DuplicateNamePolicies::Skip ||
            n.policy == DuplicateNamePolicies::Overwrite) {
            // Named as the rename policy would name it before any number is added.
            const SaveTarget plain =
                重命名保存路径(n.folder, n.name, n.type, DuplicateNamePolicies::Overwrite);
            chosen.name = plain.name;
            chosen.path = plain.path;
            if (heldByOther(chosen.path)) {
                chosen.status = ChosenTarget::Busy;
                return chosen;
            }
            if (n.policy == DuplicateNamePolicies::Skip && FileExists(chosen.path)) {
                chosen.status = ChosenTarget::Exists;
                return chosen;
            }
        } else {
            const SaveTarget numbered =
                重命名保存路径(n.folder, n.name, n.type, DuplicateNamePolicies::Rename,
                               [&heldByOther](const QString& path) {
                                   return AnythingExists(path) || heldByOther(path);
                               });
            chosen.name = numbered.name;
            chosen.path = numbered.path;
        }
        r.holders_.removeIf([owner](const auto& entry) { return entry.value() == owner; });
        r.holders_.insert(chosen.path, owner);
        return chosen;
    }
};

qint64 NameReservations::holder(const QString& path) const {
    QMutexLocker lock(&mutex_);
    return holders_.value(path, 0);
}

void NameReservations::release(qint64 owner) {
    QMutexLocker lock(&mutex_);
    holders_.removeIf([owner](const auto& entry) { return entry.value() == owner; });
}

int NameReservations::size() const {
    QMutexLocker lock(&mutex_);
    return int(holders_.size());
}

bool IsReadOnlyFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && !(info.permissions() & QFileDevice::WriteOwner);
}

ChosenTarget ChooseSaveTarget(NameReservations& reservations, const SaveNaming& naming,
                              qint64 owner) {
    return SaveTargetChooser::choose(reservations, naming, owner);
}

namespace {

// Moves from to to unless something is at to: errno EEXIST then. Falls back to a
// hard link where the file system has no such rename.
int RenameWithoutReplacing(const QByteArray& from, const QByteArray& to) {
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return -1;
    if (::link(from.constData(), to.constData()) == 0)
        return ::unlink(from.constData()) == 0 || errno == ENOENT ? 0 : -1;
    if (errno == EEXIST)
        return -1;
    if (AnythingExists(QFile::decodeName(to))) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from.constData(), to.constData());
}

// Makes the entries of path's folder durable.
void SyncFolderOf(const QString& path) {
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

CommitResult CommitPartFile(const QString& partPath, const QString& target,
                            const SaveNaming& naming, NameReservations& reservations, qint64 owner,
                            const std::function<bool(const QString&)>& beforeCommit) {
    CommitResult commit;
    commit.path = target;
    commit.name = naming.name;
    const QByteArray from = QFile::encodeName(partPath);
    const auto tell = [&beforeCommit](const QString& path) {
        return !beforeCommit || beforeCommit(path);
    };
    // Put in place unrecorded, a crash right after would leave the task to be
    // downloaded again beside its own file: the part waits for a later attempt.
    const auto unrecorded = [&commit]() {
        commit.result = TransferResult::WriteFailed;
        commit.errorText = QStringLiteral("无法在列表文件中记下正在放置的文件");
        return commit;
    };
    if (naming.policy == DuplicateNamePolicies::Overwrite) {
        if (IsReadOnlyFile(target)) {
            commit.result = TransferResult::CannotReplace;
            commit.errorText = QStringLiteral("文件是只读的");
            return commit;
        }
        const bool replacing = AnythingExists(target);
        if (!tell(target))
            return unrecorded();
        if (::rename(from.constData(), QFile::encodeName(target).constData()) != 0) {
            commit.result = TransferResult::CannotReplace;
            commit.errorText = QString::fromLocal8Bit(std::strerror(errno));
            tell({});
        } else if (replacing) {
            SyncFolderOf(target); // the old file's name now leads to the new one for good
        }
        return commit;
    }
    SaveNaming current = naming;
    for (int tries = 0; tries < 1000; ++tries) {
        if (!tell(commit.path))
            return unrecorded();
        if (RenameWithoutReplacing(from, QFile::encodeName(commit.path)) == 0)
            return commit;
        const int failure = errno;
        tell({});
        errno = failure;
        if (errno != EEXIST) {
            commit.result = TransferResult::CannotReplace;
            commit.errorText = QString::fromLocal8Bit(std::strerror(errno));
            return commit;
        }
        // A file turned up under the name while the body arrived: it stays as it is.
        current.name = commit.name;
        const ChosenTarget next = ChooseSaveTarget(reservations, current, owner);
        if (next.status != ChosenTarget::Ok) {
            commit.result = TransferResult::Exists;
            commit.path = next.path;
            return commit;
        }
        commit.path = next.path;
        commit.name = next.name;
    }
    commit.result = TransferResult::CannotReplace;
    return commit;
}
