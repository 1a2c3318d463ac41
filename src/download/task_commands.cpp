#include "download/task_commands.h"

#include "tools/file_helpers.h"
#include "tools/prompter.h"
#include "tools/shell_open.h"
#include "tools/text_editor.h"
#include "tools/text_utils.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QUrl>

#include <numeric>

namespace {

std::optional<double> ParseNumber(const QString& text) {
    bool ok = false;
    const double value = TrimSpaces(text).toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

void ShuffleTasks(TaskListModel& tasks, const std::function<int(int)>& pick) {
    // The rows not moved yet keep their order at the top, so "the r-th row" is the
    // r-th original position still unmoved: a Fenwick tree over the positions finds
    // and takes it in O(log n), instead of moving the rows behind it.
    const int count = tasks.count();
    QList<int> tree(count + 1, 0);
    for (int i = 1; i <= count; ++i) {
        ++tree[i];
        if (const int up = i + (i & -i); up <= count)
            tree[up] += tree[i];
    }
    int top = 1;
    while (top * 2 <= count)
        top *= 2;
    QList<int> moved;
    for (int draws = 1;; ++draws) {
        const int n = count - int(moved.size());
        if (n < 1 || draws > MaxShuffleMoves)
            break;
        int rest = std::clamp(pick(n), 1, n);
        int position = 0;
        for (int step = top; step > 0; step /= 2) {
            if (position + step <= count && tree[position + step] < rest) {
                position += step;
                rest -= tree[position];
            }
        }
        ++position; // 1-based original position of the picked row
        for (int i = position; i <= count; i += i & -i)
            --tree[i];
        moved.append(position - 1);
    }
    QList<bool> taken(count, false);
    for (int row : std::as_const(moved))
        taken[row] = true;
    QList<int> order;
    order.reserve(count);
    for (int i = 0; i < count; ++i) {
        if (!taken.at(i))
            order.append(i);
    }
    order.append(moved);
    tasks.reorder(order);
}

std::function<int(int)> UniformPick() {
    return [](int n) { return int(QRandomGenerator::global()->bounded(n)) + 1; };
}

QList<int> RowsWhere(const TaskListModel& tasks,
                     const std::function<bool(const DownloadTask&)>& test) {
    QList<int> rows;
    for (int row = 1; row <= tasks.count(); ++row) {
        if (test(tasks.task(row)))
            rows.append(row);
    }
    return rows;
}

bool IsDoneOrFailed(const DownloadTask& task) {
    return task.state == TaskState::Done || task.state == TaskState::Failed;
}

void RequeueSelected(TaskListModel& tasks, const QList<int>& selectedRows) {
    QList<int> rows;
    for (int row : selectedRows) {
        if (row >= 1 && row <= tasks.count() && IsDoneOrFailed(tasks.task(row)))
            rows.append(row);
    }
    tasks.RequeueTasks(rows);
}

void RequeueFailedAndWebPages(TaskListModel& tasks) {
    tasks.RequeueTasks(RowsWhere(tasks, [](const DownloadTask& t) {
        return t.state == TaskState::Failed || (t.state == TaskState::Done && t.hasWebPageType());
    }));
}

std::optional<double> ParseSizeLimit(const QString& answer) {
    return ParseNumber(answer);
}

void RequeueSmallerThan(TaskListModel& tasks, double limit) {
    tasks.RequeueTasks(RowsWhere(tasks, [limit](const DownloadTask& t) {
        const auto size = ParseNumber(QString(t.size).remove(u','));
        const auto received = ParseNumber(QString(t.received).remove(u','));
        return size && received && limit > *size && *received == *size && IsDoneOrFailed(t);
    }));
}

void DeleteFilesWhere(TaskListModel& tasks, const std::function<bool(const DownloadTask&)>& test) {
    tasks.editRows([&test](DownloadTask& t) {
        if (!test(t))
            return;
        t.size.clear();
        t.received.clear();
        t.percent.clear();
        // What this task wrote, its kept part included; nobody else's file.
        DeleteOwnedFile(t);
        if (t.state != TaskState::Downloading)
            ForgetPartFile(t);
    });
}

void CancelWaiting(TaskListModel& tasks, const QList<int>& selectedRows) {
    tasks.editRows(selectedRows, [](DownloadTask& t) {
        if (t.state == TaskState::Waiting)
            t.state = TaskState::Failed;
    });
}

QByteArray TaskNamesText(const TaskListModel& tasks, bool unfinishedOnly) {
    QByteArray text;
    for (int row = 1; row <= tasks.count(); ++row) {
        const DownloadTask& t = tasks.task(row);
        if (unfinishedOnly && t.state == TaskState::Done)
            continue;
        text += t.name.toUtf8() + "\r\n";
    }
    return text;
}

void OpenTaskFile(const DownloadTask& task, Prompter& prompter) {
    if (!FileExists(task.filePath())) {
        prompter.message(QStringLiteral("该文件不存在！"), Prompter::Icon::Critical);
        return;
    }
    OpenFileWithProgram(task.filePath(), prompter);
}

void OpenTaskFolder(const DownloadTask& task, Prompter& prompter) {
    if (!FolderExists(task.folder)) {
        prompter.message(QStringLiteral("文件夹不存在！"), Prompter::Icon::Critical);
        return;
    }
    if (FileExists(task.filePath())) {
        // Without a file manager that selects files, the folder itself still opens.
        if (!OpenFolderAndSelect(task.filePath()) &&
            !QDesktopServices::openUrl(QUrl::fromLocalFile(task.folder)))
            prompter.message(QStringLiteral("打开失败！"), Prompter::Icon::Critical);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(task.folder));
}

void OpenTaskInTextEditor(const DownloadTask& task, Prompter& prompter) {
    const QString path = task.filePath();
    if (!FileExists(path)) {
        prompter.message(QStringLiteral("该文件不存在！"), Prompter::Icon::Critical);
        return;
    }
    if (QFileInfo(path).size() > MaxTextEditorKB * 1024) {
        prompter.message(QStringLiteral("该文件太大，超过了2M，不便于用记事本打开！"),
                         Prompter::Icon::Critical);
        return;
    }
    if (!OpenInTextEditor(path))
        prompter.message(QStringLiteral("打开失败！"), Prompter::Icon::Critical);
}
