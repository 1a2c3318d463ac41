#pragma once

#include <QString>

#include <functional>

class Prompter;

// Longest file-name component in UTF-8 bytes. Linux allows 255; the rest is
// left for numbered suffixes and extensions.
inline constexpr int MaxNameUtf8Bytes = 200;
// The name is first cut to this many bytes of the Chinese code page (GB18030).
inline constexpr int MaxNameGbkBytes = 500;
// Longest type (extension) in UTF-8 bytes: name, numbered suffix and type fit in 255.
inline constexpr int MaxTypeUtf8Bytes = 32;
// The name of a file whose own name cleans to nothing.
inline const QString FallbackFileName = QStringLiteral("download");

// Cleans text into a file-name component: no separators or reserved characters,
// no control characters, no leading or trailing dots or spaces, byte-capped.
// The result is never "." or ".." and may be empty.
QString SanitizeFileName(const QString& text);

// Creates every missing folder of path and returns the folder that exists
// afterwards, without a trailing "/", or empty text. Folders that exist are used
// as they are; only the parts to be created are cleaned.
QString EnsureFolder(const QString& path, Prompter& prompter);

// File extension for a content type without parameters, or the input unchanged.
QString MimeToExtension(const QString& contentType);

// type as a file extension: cleaned like a name and cut to MaxTypeUtf8Bytes;
// empty when nothing usable is left.
QString CleanFileType(const QString& type);

struct SaveTarget {
    QString name; // final name, without folder and type
    QString path; // full path
};

// Same-name policy of a download: the policy text is "跳过", "覆盖" or "重命名".
// Any policy but overwrite numbers the name as name[001], name[002], ... past
// every path for which taken is true (by default: anything on disk). Name and type
// are cleaned first (SanitizeFileName, CleanFileType; a name that cleans to nothing
// becomes FallbackFileName), so the file always lies directly in folder under a
// name of at most 255 bytes.
SaveTarget 重命名保存路径(const QString& folder, const QString& name, const QString& type,
                          const QString& policy,
                          const std::function<bool(const QString&)>& taken = {});

// path itself when nothing is there, else the first free stem[0001].ext variant.
QString UniqueFilePath(const QString& path);
