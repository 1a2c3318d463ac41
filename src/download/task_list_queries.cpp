#include "download/task_list.h"

// The queries the supervisor and the status bar run over the whole list, each one
// pass in list order.

int TaskListModel::统计未下载项数目() const {
    int n = 0;
    for (const DownloadTask& t : tasks_) {
        if (t.size.isEmpty() && t.received.isEmpty() && t.percent.isEmpty())
            ++n;
    }
    return n;
}

bool TaskListModel::检测是否下载列表完毕() const {
    for (const DownloadTask& t : tasks_) {
        if (t.state == TaskState::Waiting || t.state == TaskState::Downloading)
            return false;
    }
    return true;
}

int TaskListModel::CountProblemTasks() const {
    int n = 0;
    for (const DownloadTask& t : tasks_) {
        if (t.state == TaskState::Failed || t.hasWebPageType())
            ++n;
    }
    return n;
}

QString TaskListModel::TaskCountsText() const {
    return CountsText(count(), Summarize());
}

TaskListModel::Summary TaskListModel::Summarize() const {
    Summary s;
    for (const DownloadTask& t : tasks_) {
        const int state = int(t.state);
        if (state >= 1 && state <= 4)
            ++s.perState[state];
        if (t.size.isEmpty() && t.received.isEmpty() && t.percent.isEmpty())
            ++s.notDownloaded;
        if (t.state == TaskState::Failed || t.hasWebPageType())
            ++s.problems;
    }
    return s;
}

QString TaskListModel::CountsText(int total, const Summary& s) {
    return QStringLiteral("总数:%1 正在下载:%2 等待:%3 已完成:%4 失败:%5")
        .arg(total)
        .arg(s.perState[2])
        .arg(s.perState[1])
        .arg(s.perState[3])
        .arg(s.perState[4]);
}
