#include "download/list_rules.h"

#include "download/task_commands.h"
#include "tools/file_helpers.h"
#include "tools/prompter.h"
#include "tools/shell_open.h"
#include "tools/text_utils.h"

bool RunInProgress(const DownloadActivity& activity, bool tickOn) {
    return tickOn || activity.IsDownloadRunning() || activity.busy;
}

ListMenuStates ListMenuStatesFor(bool contextMenu, bool running) {
    if (!contextMenu)
        return {};
    return {!running, !running, !running, running};
}

bool CloseNeedsQuestion(const DownloadActivity& activity, const TaskListModel& tasks, bool tickOn) {
    return activity.transferExecuting || activity.CountLoadedDownloaders() > 1 ||
           !tasks.检测是否下载列表完毕() || tickOn || activity.schedulerOn;
}

Qt::SortOrder HeaderSortOrder::flip() {
    current = current != Qt::DescendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    return current;
}

bool SortTasksByHeader(TaskListModel& tasks, HeaderSortOrder& order, int column, bool running,
                       Prompter& prompter) {
    if (running) {
        prompter.message(QStringLiteral("停止下载后方可排序！"), Prompter::Icon::Information);
        return false;
    }
    tasks.sortByColumn(column, order.flip());
    return true;
}

bool IsFailedTask(const DownloadTask& task) {
    return task.state == TaskState::Failed;
}

bool IsDoneTask(const DownloadTask& task) {
    return task.state == TaskState::Done;
}

bool IsWebPageFileTask(const DownloadTask& task) {
    return IsWebPageType(task.type, true) && IsDoneOrFailed(task);
}

bool MayChangeRows(const DownloadActivity& activity, Prompter& prompter) {
    if (!activity.IsDownloadRunning())
        return true;
    prompter.message(QStringLiteral("停止下载以后，才能执行此操作！"), Prompter::Icon::Information);
    return false;
}

void ClearTasksWhere(TaskListModel& tasks, const DownloadActivity& activity, Prompter& prompter,
                     const std::function<bool(const DownloadTask&)>& test) {
    if (MayChangeRows(activity, prompter))
        tasks.removeTaskRows(RowsWhere(tasks, test));
}

void ClearAllTasks(TaskListModel& tasks, const DownloadActivity& activity, Prompter& prompter) {
    if (MayChangeRows(activity, prompter) &&
        prompter.askYesNo(QStringLiteral("您确定要清空列表的所有信息吗？")))
        tasks.clear();
}

void ActivateTask(TaskListModel& tasks, int row, Prompter& prompter) {
    if (row < 1 || row > tasks.count())
        return;
    const DownloadTask& t = tasks.task(row);
    if (t.state == TaskState::Done) {
        if (FileExists(t.filePath()))
            OpenFileWithProgram(t.filePath(), prompter);
        else
            prompter.message(QStringLiteral("文件不存在！"), Prompter::Icon::Critical);
    } else if (t.state == TaskState::Failed) {
        // Only a file this task wrote; a same-named one of another row stays.
        tasks.editTask(row, [](DownloadTask& task) {
            DeleteOwnedFile(task);
            task.state = TaskState::Waiting;
            task.result = TaskResult::None;
            task.size.clear();
            task.received.clear();
            task.percent.clear();
        });
    }
}

void ExportTaskNames(const TaskListModel& tasks, bool unfinishedOnly, Prompter& prompter) {
    if (tasks.count() == 0)
        return;
    const QString path = prompter.saveFileNameConfirmingOverwrite(
        QStringLiteral("导出名称"), QString(), QStringLiteral("*.txt (*.txt)"));
    if (path.isEmpty())
        return;
    QString reason;
    if (!WriteFileAtomically(path, TaskNamesText(tasks, unfinishedOnly), &reason))
        prompter.message(reason, Prompter::Icon::Critical);
}

QUrl BrowserAddressIn(const QString& text) {
    const QUrl url(TrimSpaces(text), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https"))
        return {};
    return url;
}
