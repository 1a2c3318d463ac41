#include "tools/copy_rules.h"

#include "tools/file_helpers.h"
#include "tools/text_utils.h"

#include <QFileInfo>

namespace {

// An extension has at most this many characters.
constexpr int MaxExtensionLength = 6;
constexpr int CounterDigits = 3;

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
    if (!FileExists(source))
        return {};
    return NumberedFreeName(source, destination);
}

NumberedTarget NumberedFreeName(const QString& source, const QString& destination) {
    NumberedTarget result;
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

CopyPlan PlanCopy(const QString& source, const QString& destination, SameNameRule rule) {
    const QString target = destination + SplitSourcePath(source).fileName();
    if (!AnythingExists(target))
        return {target, false};
    const auto numbered = [&] { return CopyPlan{NumberedFreeName(source, destination).path}; };
    const QFileInfo from(source);
    const QFileInfo to(target);
    // A folder or a link in the way is never the same file as the source.
    const bool plainTarget = to.isFile() && !to.isSymLink();
    const bool sameSize = plainTarget && from.size() == to.size();
    switch (rule) {
    case SameNameRule::None:
    case SameNameRule::Skip:
        return {};
    case SameNameRule::Overwrite:
        return {target, true};
    case SameNameRule::Rename:
        return numbered();
    case SameNameRule::SizeAndTime:
        if (sameSize && from.lastModified() == to.lastModified())
            return {target, true};
        return numbered();
    case SameNameRule::SizeOnly:
        if (sameSize)
            return {target, true};
        return numbered();
    }
    return {};
}
