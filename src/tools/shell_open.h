#pragma once

#include <QString>

class Prompter;

// Opens a file with its default program; a missing file is reported as "文件不存在！".
void OpenFileWithProgram(const QString& path, Prompter& prompter);

// Shows the file selected in the desktop's file manager; false when that failed
// (the caller may then open the folder instead).
bool OpenFolderAndSelect(const QString& path);

// Opens an address in the default web browser.
void OpenUrlInBrowser(const QString& address);
