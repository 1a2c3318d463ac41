#pragma once

#include <QString>
#include <QStringList>

// The folder history file's name in the per-user data folder.
inline constexpr char FolderHistoryFileName[] = "SaveList.dat";
// Only this many non-empty lines of the file are looked at.
inline constexpr int FolderHistoryMaxLines = 100;

QString FolderHistoryPath();

// Fills list from the history file; a missing file leaves the list as it is.
void LoadFolderHistory(QStringList& list, const QString& path);

// Writes list to the history file, one entry a line (UTF-8, CR LF); an empty
// list is written as one empty line. The old file stays intact if writing fails.
bool SaveFolderHistory(const QStringList& list, const QString& path);
