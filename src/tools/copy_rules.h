#pragma once

#include <QString>

// What the copy tool does when the destination already holds a file of the
// same name; the numbers are those stored as "OpIndex".
enum class SameNameRule {
    None = 0,        // nothing is copied onto an existing name
    Skip = 1,        // "跳过"
    Overwrite = 2,   // "覆盖"
    Rename = 3,      // "自动重命名"
    SizeAndTime = 4, // "文件大小和修改时间均相同：覆盖；否则：自动重命名"
    SizeOnly = 5,    // "文件大小相同：覆盖；否则：自动重命名"
};
inline constexpr int FirstSameNameRule = 1;
inline constexpr int LastSameNameRule = 5;
SameNameRule SameNameRuleOf(int number);

// A source path split for the copy: folder (with its "/", or empty), base name
// and extension (at most six characters, else part of the base name).
struct SourceParts {
    QString folder;
    QString baseName;
    QString extension;
    // base name, plus "." and the extension when there is one
    QString fileName() const;
};
SourceParts SplitSourcePath(const QString& path);

struct NumberedTarget {
    bool ok = false;  // false when the source does not exist
    QString path;     // where the copy goes
    QString fileName; // its name
    QString baseName; // its name without the extension
};

// The numbered free name for source in destination (ending with "/"): a counter
// "[n]" already at the end of the base name is dropped, then name[001],
// name[002], ... until nothing at all is in the way. The copy is the caller's.
NumberedTarget 复制相同文件自动重命名(const QString& source, const QString& destination);
// The same name without looking at the source.
NumberedTarget NumberedFreeName(const QString& source, const QString& destination);

// Where a copy of source goes in destination under rule. path is empty when
// nothing is copied. replace: what is there now is to be overwritten; otherwise
// the name must still be free when the copy is complete, and the rule decides
// again when it is not. Anything at the name counts (a folder, a dangling link),
// and only a plain file can be "the same file" of rules 4 and 5.
struct CopyPlan {
    QString path;
    bool replace = false;
};
CopyPlan PlanCopy(const QString& source, const QString& destination, SameNameRule rule);
