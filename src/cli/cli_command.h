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
int RunResolveCommand(const QStringList& arguments);
int RunHarvestCommand(const QStringList& arguments);

class DownloadSession;
class TaskListModel;
struct DownloadTask;

// How a batch of downloads runs (the options of "download").
struct DownloadRunSettings {
    int method = 2;
    int threads = 3;
    QString policy;
    double maxMb = 10;
};

// Downloads every waiting task of tasks and returns when all are done or
// failed; the running counts go to standard error. session carries the cookies
// and User-Agent of a browser profile; none: plain requests.
void RunDownloadQueue(TaskListModel& tasks, const DownloadRunSettings& settings,
                      DownloadSession* session = nullptr);

// A task's outcome as "download" prints it: state, size, percent, type and
// path, separated by tabs.
QString DownloadLine(const DownloadTask& task);

// text as one field of an output line: control characters, which would break
// the line or its columns apart, written as \t, \n, \r or \xHH.
QString CliField(const QString& text);

// Writes text as UTF-8 to a stream.
void PrintTo(std::FILE* stream, const QString& text);
