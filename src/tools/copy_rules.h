#pragma once

#include <QString>

#include <atomic>

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

// Where source goes in destination under rule; empty when it is not copied.
QString CopyTarget(const QString& source, const QString& destination, SameNameRule rule);

// Copies source to target through a temporary file in target's folder, which
// replaces target only once complete (also keeping the source's permissions and
// modification time). A cancel request or any failure leaves target as it was
// and no temporary file behind. Blocking: meant for a worker thread.
bool CopyFileReplacing(const QString& source, const QString& target,
                       const std::atomic<bool>* cancel = nullptr);
