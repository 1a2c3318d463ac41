#pragma once

#include "download/task_list.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <optional>

class Prompter;

// Most rows a shuffle moves.
inline constexpr int MaxShuffleMoves = 10000;
// Largest file the text editor command opens, in KB.
inline constexpr qint64 MaxTextEditorKB = 2048;

// Moves randomly picked rows to the end, at most MaxShuffleMoves of them, in one
// change. pick(n) returns a position from 1 to n.
void ShuffleTasks(TaskListModel& tasks, const std::function<int(int)>& pick);
// pick() drawing uniformly from the system's random generator.
std::function<int(int)> UniformPick();

// 1-based rows whose task matches, in list order.
QList<int> RowsWhere(const TaskListModel& tasks,
                     const std::function<bool(const DownloadTask&)>& test);

bool IsDoneOrFailed(const DownloadTask& task);

// Re-download commands; each repaints the list once.
void RequeueSelected(TaskListModel& tasks, const QList<int>& selectedRows);
void RequeueFailedAndWebPages(TaskListModel& tasks);
// The number typed for "文件大小小于指定数字的项", or nothing when it is not a number.
std::optional<double> ParseSizeLimit(const QString& answer);
void RequeueSmallerThan(TaskListModel& tasks, double limit);

// Empties the progress cells of the matching rows and deletes the files they wrote
// (a kept part file too); rows stay.
void DeleteFilesWhere(TaskListModel& tasks, const std::function<bool(const DownloadTask&)>& test);

// Waiting rows among the selection become Failed, so the scheduler passes them by.
void CancelWaiting(TaskListModel& tasks, const QList<int>& selectedRows);

// Names, each followed by CR LF; all rows, or only those not Done.
QByteArray TaskNamesText(const TaskListModel& tasks, bool unfinishedOnly);

// The open commands on one task; messages through the prompter.
void OpenTaskFile(const DownloadTask& task, Prompter& prompter);
void OpenTaskFolder(const DownloadTask& task, Prompter& prompter);
void OpenTaskInTextEditor(const DownloadTask& task, Prompter& prompter);
