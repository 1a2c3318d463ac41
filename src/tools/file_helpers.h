#pragma once

#include <QString>

// Plain file (or a link to one) at path; any failure gives false.
bool FileExists(const QString& path);

// Folder at path; any failure gives false.
bool FolderExists(const QString& path);

// Anything at all at path: file, folder, special file or dangling link.
bool AnythingExists(const QString& path);

// Writes bytes to path, replacing the file only when everything was written.
// On failure error (when given) receives the reason.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);

struct NameAndType {
    QString type; // extension without the dot; empty when none
    QString name; // base name without folder and extension
};

// Splits a file path into base name and extension. An extension has at most
// six characters; a longer one counts as part of the name.
NameAndType SplitNameAndType(const QString& path);
