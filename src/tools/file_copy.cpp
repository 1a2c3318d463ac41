#include "tools/file_copy.h"

#include "tools/confined_files.h"
#include "tools/text_utils.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <memory>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 CopyChunk = 1024 * 1024;
// Characters of the target's name kept in the temporary file's name.
constexpr int TempNameChars = 60;
// A name taken again and again while the copy is placed: give up after this many tries.
constexpr int PlaceAttempts = 100;

QString ErrorText(int error) {
    if (error == EINVAL)
        return QStringLiteral("不是普通文件");
    return qt_error_string(error);
}

CopyResult Failure(const QString& error) {
    return {CopyOutcome::Failed, {}, error};
}

// rename that never replaces: fails with EEXIST when anything is at to.
int RenameNoReplace(const QByteArray& from, const QByteArray& to) {
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return -1;
    // A file system without it: a hard link refuses a taken name too.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP)
        return -1;
    // Nor hard links (FAT and the like): look, then rename.
    struct stat st {};
    if (::lstat(to.constData(), &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from.constData(), to.constData());
}

// Writes what in reads into a temporary file in folder, named after name, with
// in's permissions and modification time. Nothing (and failure set) when
// stopped or failed; the temporary file is gone then.
std::unique_ptr<QTemporaryFile> WriteTemporary(int in, const QString& folder, const QString& name,
                                               const StopRequest& stop, CopyResult& failure) {
    auto part = std::make_unique<QTemporaryFile>(folder + QStringLiteral("/.") +
                                                 LeftWhole(name, TempNameChars) +
                                                 QStringLiteral("-XXXXXX.part"));
    if (!part->open()) {
        failure = Failure(part->errorString());
        return {};
    }
    QByteArray buffer(CopyChunk, Qt::Uninitialized);
    for (;;) {
        if (stop && stop()) {
            failure = {CopyOutcome::Stopped, {}, {}};
            return {};
        }
        const ssize_t n = ::read(in, buffer.data(), size_t(buffer.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            failure = Failure(ErrorText(errno));
            return {};
        }
        if (n == 0)
            break;
        if (part->write(buffer.constData(), n) != n || !part->flush()) {
            failure = Failure(part->errorString());
            return {};
        }
    }
    struct stat st {};
    if (::fstat(in, &st) != 0) {
        failure = Failure(ErrorText(errno));
        return {};
    }
    ::fchmod(part->handle(), st.st_mode & 0777);
    // Keeps the source's time, so the size-and-time rule knows a copy made earlier.
    struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    ::futimens(part->handle(), times);
    if (::fsync(part->handle()) != 0) {
        failure = Failure(ErrorText(errno));
        return {};
    }
    return part;
}

} // namespace

int OpenPlainFile(const QString& path) {
    UniqueFd fd(::open(QFile::encodeName(path).constData(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return -1;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return -1;
    return fd.release();
}

CopyResult CopyInto(const QString& source, const QString& destination, SameNameRule rule,
                    const StopRequest& stop) {
    const UniqueFd in(OpenPlainFile(source));
    if (!in.valid()) {
        // ELOOP: a link, which is never followed.
        return Failure(ErrorText(errno == ELOOP ? EINVAL : errno));
    }
    const CopyPlan plan = PlanCopy(source, destination, rule);
    if (plan.path.isEmpty())
        return {CopyOutcome::Skipped, {}, {}};
    const QFileInfo target(plan.path);
    CopyResult failure;
    const std::unique_ptr<QTemporaryFile> part =
        WriteTemporary(in.get(), target.absolutePath(), target.fileName(), stop, failure);
    if (!part)
        return failure;
    part->setAutoRemove(false);
    return PlaceCopy(part->fileName(), source, destination, rule, plan);
}

CopyResult PlaceCopy(const QString& temporary, const QString& source, const QString& destination,
                     SameNameRule rule, CopyPlan plan) {
    const QByteArray from = QFile::encodeName(temporary);
    CopyResult result = Failure(ErrorText(EEXIST));
    for (int attempt = 0; attempt < PlaceAttempts; ++attempt) {
        if (plan.path.isEmpty()) {
            result = {CopyOutcome::Skipped, {}, {}};
            break;
        }
        const QByteArray to = QFile::encodeName(plan.path);
        if ((plan.replace ? ::rename(from.constData(), to.constData())
                          : RenameNoReplace(from, to)) == 0)
            return {CopyOutcome::Copied, plan.path, {}};
        if (plan.replace || errno != EEXIST) {
            result = Failure(ErrorText(errno));
            break;
        }
        // Taken while the copy was written.
        plan = PlanCopy(source, destination, rule);
    }
    ::unlink(from.constData());
    return result;
}

bool CopyFileReplacing(const QString& source, const QString& target,
                       const std::atomic<bool>* cancel) {
    const UniqueFd in(OpenPlainFile(source));
    if (!in.valid())
        return false;
    const QFileInfo info(target);
    CopyResult failure;
    const std::unique_ptr<QTemporaryFile> part = WriteTemporary(
        in.get(), info.absolutePath(), info.fileName(),
        [cancel] { return cancel && cancel->load(); }, failure);
    if (!part)
        return false;
    if (std::rename(QFile::encodeName(part->fileName()).constData(),
                    QFile::encodeName(info.absoluteFilePath()).constData()) != 0)
        return false;
    part->setAutoRemove(false);
    return true;
}
