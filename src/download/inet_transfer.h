#pragma once

#include <QObject>
#include <QPointer>

#include <qcoro/qcorotask.h>

#include <functional>

class DownloadSession;
class Prompter;
class QNetworkReply;
class TaskListModel;
struct DownloadActivity;
struct SharedOptions;

// What a transfer tells the window while it runs.
struct TransferReports {
    std::function<void(const QString&)> panel2; // progress messages
    std::function<void(const QString&)> panel3; // connection states
};

// The one-at-a-time download path: proxy, referer, size rule, same-name rule,
// the body written to the target as it arrives, the stall rule.
class InetTransfer : public QObject {
    Q_OBJECT

public:
    InetTransfer(TaskListModel& tasks, SharedOptions& options, DownloadSession& session,
                 DownloadActivity& activity, Prompter& prompter, QObject* parent = nullptr);

    TransferReports reports;
    // The same-name policy in force ("跳过", "覆盖", "重命名").
    std::function<QString()> policy;

    // A request is in progress.
    bool StillExecuting() const { return executing_; }
    // Abandons the current request.
    void Cancel();

    // Downloads the task in row; true when it ended done. Runs to its end while
    // the event loop goes on; the busy flag is set meanwhile.
    QCoro::Task<bool> Inet下载文件(int row);

    // The state text shown for a stage of a request.
    static QString StateText(int state, int code = 0, const QString& message = {});

private:
    TaskListModel& tasks_;
    SharedOptions& options_;
    DownloadSession& session_;
    DownloadActivity& activity_;
    Prompter& prompter_;
    QPointer<QNetworkReply> reply_;
    bool executing_ = false;
};
