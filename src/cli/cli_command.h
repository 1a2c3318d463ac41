#pragma once

#include <QStringList>

#include <cstdio>

// A subcommand of quillmarsh-cli: arguments after the subcommand's name,
// returns the exit status.
using CliCommand = int (*)(const QStringList& arguments);

int RunDetectCommand(const QStringList& arguments);
int RunParseCommand(const QStringList& arguments);
int RunDownloadCommand(const QStringList& arguments);
int RunCacheCommand(const QStringList& arguments);

// Writes text as UTF-8 to a stream.
void PrintTo(std::FILE* stream, const QString& text);
