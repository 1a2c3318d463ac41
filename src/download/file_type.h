#pragma once

#include <QString>

// Bytes read from the start of a file for detection.
inline constexpr qint64 FileTypeHeadBytes = 10240;

// The real type of a file from its first bytes: a lower-case word such as
// "pdf", "htm" or "zip", or empty text when the file is missing or unknown.
QString 打开文件判断文件类型(const QString& path);
