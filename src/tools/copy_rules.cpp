#include "tools/copy_rules.h"

#include "tools/file_helpers.h"
#include "tools/text_utils.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// An extension has at most this many characters.
constexpr int MaxExtensionLength = 6;
constexpr int CounterDigits = 3;
constexpr qint64 CopyChunk = 1024 * 1024;
// Characters of the target's name kept in the temporary file's name.
constexpr int TempNameChars = 60;

QString WithExtension(const QString& base, const QString& extension) {
    return extension.isEmpty() ? base : base + u'.' + extension;
}

// base without a trailing "[number]", unless nothing would remain.
QString WithoutCounter(const QString& base) {
    if (!base.endsWith(u']'))
        return base;
    const qsizetype open = base.lastIndexOf(u'[');
    if (open <= 0)
        return base;
    const QString counter = base.mid(open + 1, base.size() - open - 2);
    return IsDigitsOnly(counter) ? base.left(open) : base;
}

} // namespace

SameNameRule SameNameRuleOf(int number) {
    if (number < FirstSameNameRule || number > LastSameNameRule)
        return SameNameRule::None;
    return SameNameRule(number);
}

QString SourceParts::fileName() const {
    return WithExtension(baseName, extension);
}

SourceParts SplitSourcePath(const QString& path) {
    const QString trimmed = TrimSpaces(path);
    const qsizetype slash = trimmed.lastIndexOf(u'/');
    SourceParts parts;
    parts.folder = trimmed.left(slash + 1);
    const QString rest = trimmed.mid(slash + 1);
    const qsizetype dot = rest.lastIndexOf(u'.');
    if (dot < 0 || rest.size() - dot - 1 > MaxExtensionLength) {
        parts.baseName = TrimSpaces(rest);
        return parts;
    }
    parts.baseName = TrimSpaces(rest.left(dot));
    parts.extension = TrimSpaces(rest.mid(dot + 1));
    if (parts.baseName.isEmpty()) {
        parts.baseName = rest;
        parts.extension.clear();
    }
    return parts;
}

NumberedTarget 复制相同文件自动重命名(const QString& source, const QString& destination) {
    NumberedTarget result;
    if (!FileExists(source))
        return result;
    const SourceParts parts = SplitSourcePath(source);
    const QString base = WithoutCounter(parts.baseName);
    QString newBase = base;
    QString candidate = destination + WithExtension(newBase, parts.extension);
    // Anything in the way counts, hidden files and folders too.
    for (int n = 1; AnythingExists(candidate); ++n) {
        newBase = base + u'[' + ZeroPadded(n, CounterDigits) + u']';
        candidate = destination + WithExtension(newBase, parts.extension);
    }
    result.ok = true;
    result.path = candidate;
    result.fileName = WithExtension(newBase, parts.extension);
    result.baseName = newBase;
    return result;
}

QString CopyTarget(const QString& source, const QString& destination, SameNameRule rule) {
    const QString target = destination + SplitSourcePath(source).fileName();
    if (!FileExists(target))
        return target;
    const QFileInfo from(source);
    const QFileInfo to(target);
    const bool sameSize = from.size() == to.size();
    switch (rule) {
    case SameNameRule::None:
    case SameNameRule::Skip:
        return {};
    case SameNameRule::Overwrite:
        return target;
    case SameNameRule::Rename:
        return 复制相同文件自动重命名(source, destination).path;
    case SameNameRule::SizeAndTime:
        if (sameSize && from.lastModified() == to.lastModified())
            return target;
        return 复制相同文件自动重命名(source, destination).path;
    case SameNameRule::SizeOnly:
        if (sameSize)
            return target;
        return 复制相同文件自动重命名(source, destination).path;
    }
    return {};
}

bool CopyFileReplacing(const QString& source, const QString& target,
                       const std::atomic<bool>* cancel) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QFileInfo info(target);
    QTemporaryFile part(info.absolutePath() + QStringLiteral("/.") +
                        info.fileName().left(TempNameChars) + QStringLiteral("-XXXXXX.part"));
    if (!part.open())
        return false;
    QByteArray buffer(CopyChunk, Qt::Uninitialized);
    for (;;) {
        if (cancel && cancel->load())
            return false;
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (part.write(buffer.constData(), n) != n)
            return false;
    }
    if (!part.flush())
        return false;
    struct stat st {};
    if (::fstat(in.handle(), &st) != 0)
        return false;
    ::fchmod(part.handle(), st.st_mode & 0777);
    // Keeps the source's time, so the size-and-time rule knows a copy made earlier.
    struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    ::futimens(part.handle(), times);
    if (::fsync(part.handle()) != 0)
        return false;
    if (std::rename(QFile::encodeName(part.fileName()).constData(),
                    QFile::encodeName(info.absoluteFilePath()).constData()) != 0)
        return false;
    part.setAutoRemove(false);
    return true;
}
