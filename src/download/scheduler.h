#pragma once

#include "download/download_activity.h"
#include "download/host_waits.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class DeferredPrompter;
class DownloadSession;
struct DownloadTask;
class NameReservations;
class Prompter;
class TaskListModel;
class TransferPool;
struct SharedOptions;
struct TransferOutcome;
struct TransferTicket;

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
    // A login runs: nothing new starts meanwhile, it would only fetch the login page again.
    std::function<bool()> loginRunning;
    std::function<void(int sound)> playSound;
};

// What the scheduler's notification sounds mean.
namespace SchedulerSounds {
inline constexpr int WebPage = 101;  // a finished task turned out to be a web page
inline constexpr int RunEnded = 102; // the run ended, or the problem rule stopped it
inline constexpr int Failed = 103;   // a task failed
} // namespace SchedulerSounds

// The connection-state text of a one-at-a-time transfer, shown in status panel 3.
QString TransferStateText(int state, int code = 0, const QString& message = {});

// Turns waiting tasks into running transfers: one at a time (method 1, through the
// proxy and with a referer) or up to six side by side (method 2), all through the
// one transfer core, with a supervisor that keeps the counts and ends the run.
// Running transfers know their task by its id, so rows may move meanwhile.
class DownloadScheduler : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxDownloaders = 6;

    DownloadScheduler(TaskListModel& tasks, SharedOptions& options, DownloadSession& session,
                      Prompter& prompter, QObject* parent = nullptr);
    // Stops every transfer; their files are in order when this returns.
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
    QTimer& tickTimer() { return tick_; }
    QTimer& supervisorTimer() { return supervisor_; }
    // Transfers that have not reported their end yet, stopped ones included.
    int transfersInFlight() const { return int(running_.size()); }
    const NameReservations& reservations() const { return *reservations_; }

    // Needed unless the target exists and the policy is skip (then the row is done).
    bool 确定是需要下载(int row);

    // One scheduler tick and one supervisor tick (run by the timers).
    void tick();
    void supervise();

signals:
    void runEnded();

private:
    struct Running {
        std::shared_ptr<TransferTicket> ticket;
        bool oneAtATime = false;
        bool stopped = false;
        bool headShown = false;
    };

    // The first waiting row to start, prepared; its save path in target.
    int pickRow(bool oneAtATime, QString& target);
    void startTransfer(int row, bool oneAtATime, const QString& target);
    void onFinished(const std::shared_ptr<TransferTicket>& ticket);
    void applyOutcome(int row, const Running& run, const TransferOutcome& outcome);
    // A 429 or 503: the task waits for its host and is tried again.
    void waitForHost(int row, const Running& run, const TransferOutcome& outcome);
    void markExisting(int row, const QString& path);
    // The host a task's waits are kept under: that of its own address, whatever
    // a redirect made of it, so a wait is recorded and honoured under one name.
    QString hostOf(const DownloadTask& t);
    void refreshProgress();
    int activeTransfers() const;
    // Type check, base reference, messages, sounds and the login hook after a task ended.
    void afterTask(int row, bool saved);
    void setScheduling(bool on);
    void updateActivity();

    TaskListModel& tasks_;
    SharedOptions& options_;
    DownloadSession& session_;
    std::unique_ptr<DeferredPrompter> prompter_;
    std::shared_ptr<NameReservations> reservations_;
    TransferPool* pool_;
    QTimer tick_;
    QTimer supervisor_;
    QTimer progress_;
    QHash<qint64, Running> running_; // by task id
    HostWaits hostWaits_;
    QHash<qint64, QPair<QString, QString>> taskHosts_; // by task id: its address, its host
    QDateTime lastFinish_;
    bool inTick_ = false;
};
