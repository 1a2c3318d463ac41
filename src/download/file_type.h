#pragma once

#include <QByteArray>
#include <QString>

// Bytes read from the start of a file for detection.
inline constexpr qint64 FileTypeHeadBytes = 10240;
// Bytes read from the end of a file for detection (an ID3v1 tag).
inline constexpr qint64 FileTypeTailBytes = 128;

// The real type of a file from its first bytes: a lower-case word such as
// "pdf", "htm" or "zip", or empty text when the file is missing or unknown.
QString 打开文件判断文件类型(const QString& path);

// The same decision from bytes a caller already has: head holds the file's first
// bytes (up to FileTypeHeadBytes of them are read), tail its last ones (up to
// FileTypeTailBytes), size the whole file's length. Bytes missing from a head
// shorter than the size say read as 0, as they do for a file that shrank.
QString FileTypeFromBytes(const QByteArray& head, const QByteArray& tail, qint64 size);

// The end of a PDF within which its "%%EOF" marker must stand.
inline constexpr qint64 PdfEndBytes = 1024;

// A file whose content is a PDF but whose last PdfEndBytes bytes hold no "%%EOF":
// its end is missing.
bool IsPdfWithoutEnd(const QString& path);
