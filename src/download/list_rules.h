#pragma once

#include "download/download_activity.h"
#include "download/task_list.h"

#include <QUrl>

class Prompter;

// The download window's rules, apart from its widgets.

// A run is on for the right-click menu and the header sort: the scheduler tick
// is on, or downloads are still at work, or the engine is busy.
bool RunInProgress(const DownloadActivity& activity, bool tickOn);

// Which items of "列表操作(&D)" can be chosen.
struct ListMenuStates {
    bool selectAll = true; // "全选"
    bool clear = true;     // "清除" with its submenu
    bool clearAll = true;  // "清空"
    bool stop = true;      // "停止下载"
};
// Worked out each time the menu opens. The right-click menu locks the commands
// that move rows during a run and offers Stop only then; opened from the menu
// bar, everything is offered (the guarded commands still refuse during a run).
ListMenuStates ListMenuStatesFor(bool contextMenu, bool running);

// Closing asks first while anything is unfinished: a transfer at work, a
// waiting or running row, or the scheduler on.
bool CloseNeedsQuestion(const DownloadActivity& activity, const TaskListModel& tasks, bool tickOn);

// One sort direction for the whole list: the first header click sorts
// descending, every further click (on any header) flips it.
struct HeaderSortOrder {
    Qt::SortOrder current = Qt::AscendingOrder;
    Qt::SortOrder flip();
};
// A header click: refused with a message during a run (the order stays as it
// was), otherwise flips the order and sorts. True when it sorted.
bool SortTasksByHeader(TaskListModel& tasks, HeaderSortOrder& order, int column, bool running,
                       Prompter& prompter);

// The row tests of the clear and delete commands.
bool IsFailedTask(const DownloadTask& task);
bool IsDoneTask(const DownloadTask& task);
// Type "htm", "html" or "xml" (case ignored), Done or Failed.
bool IsWebPageFileTask(const DownloadTask& task);

// The running test of the commands that move or remove rows: false, after
// telling the user, while downloads run.
bool MayChangeRows(const DownloadActivity& activity, Prompter& prompter);
// "清除": the rows that pass test go (running test first).
void ClearTasksWhere(TaskListModel& tasks, const DownloadActivity& activity, Prompter& prompter,
                     const std::function<bool(const DownloadTask&)>& test);
// "清空": every row goes once the user confirms (running test first).
void ClearAllTasks(TaskListModel& tasks, const DownloadActivity& activity, Prompter& prompter);

// A double click on a row: a finished task's file opens (or "文件不存在！"); a
// failed task loses the file it wrote and waits again with empty progress.
void ActivateTask(TaskListModel& tasks, int row, Prompter& prompter);

// "导出名称": asks for a .txt file (confirming an overwrite) and writes the
// names; a failure shows its reason.
void ExportTaskNames(const TaskListModel& tasks, bool unfinishedOnly, Prompter& prompter);

// Status panel 2's text as an address for the web browser: only an http or
// https address counts (a file path there must not start a program); else empty.
QUrl BrowserAddressIn(const QString& text);
