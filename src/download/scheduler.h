#pragma once

#include "download/download_activity.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <array>
#include <functional>

class DownloadSession;
class Downloader;
class InetTransfer;
class Prompter;
class TaskListModel;
struct SharedOptions;

// The run options of the download window's panel.
struct SchedulerSettings {
    int threads = 3;         // parallel downloads, 1 to 6
    int intervalSeconds = 0; // pause between the last finish and the next start
    QString policy = QStringLiteral("重命名");
    bool autoStart = false;   // start whenever tasks are pending
    bool autoRequeue = false; // re-download failed / web-page tasks while the run is off
    int autoRequeueKind = 0;  // 0 failed, 1 web pages, 2 both
    bool stopAfterProblems = false;
    bool sound = false;
    bool autoLocate = false;
    bool autoLogin = false;
};

// What the scheduler shows or asks of its window.
struct SchedulerHooks {
    std::function<void(const QString&)> panel2;
    std::function<void(const QString&)> panel3;
    std::function<void(const QString&)> panel4;
    std::function<void(int row)> locate;
    std::function<void(bool running)> runningIndicator;
    std::function<void(bool enabled)> startMenuEnabled;
    std::function<void()> autoOptionsCleared;
    std::function<void(int row)> login; // after a web page arrived instead of a file
    std::function<void(int sound)> playSound;
};

// Turns waiting tasks into running downloads: one at a time (method 1) or up to
// six side by side (method 2), with a supervisor that keeps the counts and ends the run.
class DownloadScheduler : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxDownloaders = 6;

    DownloadScheduler(TaskListModel& tasks, SharedOptions& options, DownloadSession& session,
                      Prompter& prompter, QObject* parent = nullptr);
    ~DownloadScheduler() override;

    SchedulerSettings settings;
    SchedulerHooks hooks;
    DownloadActivity activity;

    // The interval counts from here (the window marks its opening).
    void markFinishedNow() { lastFinish_ = QDateTime::currentDateTime(); }

    void Start();
    void Stop();
    bool running() const { return tick_.isActive(); }
    // Switches the supervisor on (the window does at load).
    void startSupervisor() { supervisor_.start(); }
    void stopSupervisor() { supervisor_.stop(); }
    InetTransfer& transfer() { return *inet_; }
    QTimer& tickTimer() { return tick_; }
    QTimer& supervisorTimer() { return supervisor_; }

    // Needed unless the target exists and the policy is skip (then the row is done).
    bool 确定是需要下载(int row);

    // One scheduler tick and one supervisor tick (run by the timers).
    void tick();
    void supervise();

signals:
    void runEnded();

private:
    QCoro::Task<void> Inet下载当前文件(int row);
    void 多线程下载(int k, int row, const QString& url, const QString& path);
    void unload(int k);
    void onProgress(int k, qint64 read, qint64 max);
    void onComplete(int k, qint64 read, qint64 max);
    void onError(int k);
    // Type check, base reference, messages, sounds and the login hook after a task ended.
    void afterTask(int row, bool saved);
    void setScheduling(bool on);
    void updateActivity();

    TaskListModel& tasks_;
    SharedOptions& options_;
    DownloadSession& session_;
    Prompter& prompter_;
    InetTransfer* inet_;
    QTimer tick_;
    QTimer supervisor_;
    std::array<QPointer<Downloader>, MaxDownloaders + 1> downloaders_{};
    std::array<int, 12> rowOf_{};
    QDateTime lastFinish_;
};
