#pragma once

#include <QString>

// Bytes read from the start of a file for detection.
inline constexpr qint64 FileTypeHeadBytes = 10240;

// The real type of a file from its first bytes: a lower-case word such as
// "pdf", "htm" or "zip", or empty text when the file is missing or unknown.
QString 打开文件判断文件类型(const QString& path);

// The end of a PDF within which its "%%EOF" marker must stand.
inline constexpr qint64 PdfEndBytes = 1024;

// A file whose content is a PDF but whose last PdfEndBytes bytes hold no "%%EOF":
// its end is missing.
bool IsPdfWithoutEnd(const QString& path);
