#pragma once

#include <QString>

// The per-user data folder (history file, sounds), created when missing.
// Stands in for "next to the program", which is read-only once installed.
QString DataFolder();

// Path of a file in the per-user data folder.
QString DataFilePath(const QString& fileName);

// The user's home folder; takes the place of a drive root.
QString HomeFolder();

// Joins folder, name and type into a path; the "." is left out when the type is empty.
QString JoinFilePath(const QString& folder, const QString& name, const QString& type);
