#include "download/scheduler.h"

#include "download/download_session.h"
#include "download/part_file.h"
#include "download/save_names.h"
#include "download/save_target.h"
#include "download/task_list.h"
#include "download/transfer_core.h"
#include "download/transfer_pool.h"
#include "search/address_names.h"
#include "search/result_parser.h"
#include "settings/settings_keys.h"
#include "settings/shared_options.h"
#include "tools/deferred_prompter.h"
#include "tools/file_helpers.h"
#include "tools/text_utils.h"
#include "tools/time_limits.h"

#include <QScopedValueRollback>

namespace {
constexpr int ProblemLimit = 5;

// The name an address suggests when the task's own cleans to nothing (a bare
// ".pdf" would be a hidden file).
QString NameFromAddress(const QString& url) {
    const QString name = SanitizeFileName(FileNameFromAddress(QUrl(url).path(), true));
    return name.isEmpty() ? FallbackFileName : name;
}

// The program's proxy for the one-at-a-time method; none means the system's settings.
std::optional<QNetworkProxy> ProgramProxy(const SharedOptions& o) {
    const QString host = TrimSpaces(o.ProxyAddress);
    bool ok = false;
    const uint port = TrimSpaces(o.ProxyPort).toUInt(&ok);
    if (o.ProxyEnabled != 1 || host.isEmpty() || !ok || port == 0 || port > 65535)
        return std::nullopt;
    return QNetworkProxy(QNetworkProxy::HttpProxy, host, quint16(port));
}

} // namespace

DownloadScheduler::DownloadScheduler(TaskListModel& tasks, SharedOptions& options,
                                     DownloadSession& session, Prompter& prompter, QObject* parent)
    : QObject(parent)
    , tasks_(tasks)
    , options_(options)
    , session_(session)
    , prompter_(std::make_unique<DeferredPrompter>(prompter, this))
    , reservations_(std::make_shared<NameReservations>())
    , pool_(new TransferPool(session, this))
    , lastFinish_(QDateTime::fromMSecsSinceEpoch(0)) {
    tick_.setObjectName(QStringLiteral("Timer_Down"));
    supervisor_.setObjectName(QStringLiteral("Timer1"));
    tick_.setInterval(TimeLimits::Scaled(TimeLimits::SchedulerTick));
    supervisor_.setInterval(TimeLimits::Scaled(TimeLimits::SupervisorTick));
    progress_.setInterval(TimeLimits::ProgressRefresh);
    connect(&tick_, &QTimer::timeout, this, &DownloadScheduler::tick);
    connect(&supervisor_, &QTimer::timeout, this, &DownloadScheduler::supervise);
    connect(&progress_, &QTimer::timeout, this, &DownloadScheduler::refreshProgress);
    connect(pool_, &TransferPool::finished, this, &DownloadScheduler::onFinished);
    // Hosts that asked for a pause in an earlier run still get it.
    const QDateTime now = QDateTime::currentDateTime();
    for (int row = 1; row <= tasks_.count(); ++row) {
        const DownloadTask& t = tasks_.task(row);
        if (t.state == TaskState::Waiting && t.notBefore.isValid() && t.notBefore > now)
            hostWaits_.holdUntil(hostOf(t), t.notBefore);
    }
}

QString DownloadScheduler::hostOf(const DownloadTask& t) {
    // Parsing an address is the costly part of a tick over a long list: once per task.
    auto it = taskHosts_.find(t.id);
    if (it == taskHosts_.end() || it->first != t.url)
        it = taskHosts_.insert(t.id, {t.url, HostWaits::HostOf(DownloadUrl(t.url))});
    return it->second;
}

DownloadScheduler::~DownloadScheduler() {
    pool_->disconnect(this);
    delete pool_; // stops the transfers and waits until their files are in order
}

void DownloadScheduler::setScheduling(bool on) {
    // Switching on a running tick must not restart its countdown.
    if (on && !tick_.isActive())
        tick_.start();
    else if (!on)
        tick_.stop();
    updateActivity();
}

int DownloadScheduler::activeTransfers() const {
    int n = 0;
    for (const Running& r : running_)
        n += r.stopped ? 0 : 1;
    return n;
}

void DownloadScheduler::updateActivity() {
    int oneAtATime = 0;
    int parallel = 0;
    for (const Running& r : std::as_const(running_)) {
        if (!r.stopped)
            ++(r.oneAtATime ? oneAtATime : parallel);
    }
    activity.schedulerOn = tick_.isActive();
    activity.transferExecuting = oneAtATime > 0;
    activity.loadedDownloaders = parallel;
    activity.busy = activity.schedulerOn || oneAtATime + parallel > 0;
}

void DownloadScheduler::Start() {
    setScheduling(true);
}

void DownloadScheduler::Stop() {
    settings.autoStart = false;
    settings.autoRequeue = false;
    if (hooks.autoOptionsCleared)
        hooks.autoOptionsCleared();
    setScheduling(false);
    for (Running& r : running_) {
        if (!r.stopped) {
            r.stopped = true;
            pool_->cancel(r.ticket);
        }
    }
    tasks_.editRows([](DownloadTask& t) {
        if (t.state == TaskState::Downloading) {
            t.state = TaskState::Failed;
            t.result = TaskResult::Cancelled;
            t.percent = QStringLiteral("下载取消");
        }
    });
    updateActivity();
}

bool DownloadScheduler::确定是需要下载(int row) {
    const DownloadTask& t = tasks_.task(row);
    const QString path = t.filePath();
    if (FileExists(path) && settings.policy == DuplicateNamePolicies::Skip) {
        markExisting(row, path);
        return false;
    }
    return true;
}

int DownloadScheduler::pickRow(bool oneAtATime, QString& target) {
    const QDateTime now = QDateTime::currentDateTime();
    bool anyHostWaits = hostWaits_.anyWaiting(now);
    if (taskHosts_.size() > 2 * qsizetype(tasks_.count()) + 64)
        taskHosts_.clear(); // mostly rows removed since
    for (int row = 1; row <= tasks_.count(); ++row) {
        const DownloadTask& t = tasks_.task(row);
        if (t.state != TaskState::Waiting || running_.contains(t.id))
            continue;
        // A host that asked for a pause is passed over; other hosts' tasks go ahead.
        if (t.notBefore.isValid() && t.notBefore > now) {
            hostWaits_.holdUntil(hostOf(t), t.notBefore);
            anyHostWaits = true;
            continue;
        }
        if (anyHostWaits && hostWaits_.waiting(hostOf(t), now))
            continue;
        if (!IsDownloadAddress(DownloadUrl(t.url))) {
            // A local file or a script address is nothing to download.
            tasks_.editTask(row, [](DownloadTask& task) {
                task.state = TaskState::Failed;
                task.result = TaskResult::Failed;
                task.percent = QStringLiteral("不支持的网址");
                task.error = QStringLiteral("只能下载 http 或 https 网址：") + task.url;
            });
            continue;
        }
        QString name = SanitizeFileName(t.name);
        if (name.isEmpty())
            name = NameFromAddress(t.url);
        const QString folder = EnsureFolder(t.folder, *prompter_);
        if (folder.isEmpty()) {
            tasks_.editTask(row, [&](DownloadTask& task) {
                task.name = name;
                task.state = TaskState::Failed;
                task.result = TaskResult::Failed;
                task.error = QStringLiteral("无法创建文件夹：") + task.folder;
            });
            continue;
        }
        tasks_.editTask(row, [&](DownloadTask& task) {
            task.name = name;
            task.type = CleanFileType(task.type);
            task.folder = WithTrailingSlash(folder);
        });
        if (oneAtATime) {
            // The server's type may still change the name; the rest is settled then.
            if (!确定是需要下载(row))
                continue;
            target = tasks_.task(row).filePath();
            // A name that a running task writes is not asked for until it is free
            // (skip and overwrite wait for it; rename numbers around it).
            const qint64 holder = reservations_->holder(target);
            if (settings.policy != DuplicateNamePolicies::Rename && holder != 0 &&
                holder != tasks_.task(row).id)
                continue;
            return row;
        }
        const DownloadTask& ready = tasks_.task(row);
        const ChosenTarget chosen = ChooseSaveTarget(
            *reservations_, {ready.folder, ready.name, ready.type, settings.policy, false},
            ready.id);
        if (chosen.status == ChosenTarget::Busy)
            continue; // a running task writes that name: this one waits for it
        if (chosen.status == ChosenTarget::Exists) {
            markExisting(row, chosen.path);
            continue;
        }
        tasks_.setName(row, chosen.name);
        target = chosen.path;
        return row;
    }
    return 0;
}

void DownloadScheduler::tick() {
    // A nested tick (from anything that runs the event loop below) must not start
    // the same row twice.
    if (inTick_)
        return;
    const QScopedValueRollback guard(inTick_, true);
    if (tasks_.count() == 0) {
        setScheduling(false);
        return;
    }
    if (hooks.loginRunning && hooks.loginRunning())
        return;
    const qint64 sinceFinish = qAbs(lastFinish_.msecsTo(QDateTime::currentDateTime()));
    if (sinceFinish <= qint64(settings.intervalSeconds) * 1000)
        return;
    // Switching the method during a run only changes how many run from now on.
    const bool oneAtATime = options_.DownloadMethod == 1;
    const int limit = oneAtATime ? 1 : std::clamp(settings.threads, 1, MaxDownloaders);
    while (activeTransfers() < limit) {
        QString target;
        const int row = pickRow(oneAtATime, target);
        if (row == 0)
            break;
        startTransfer(row, oneAtATime, target);
        if (oneAtATime)
            break;
    }
    updateActivity();
}

void DownloadScheduler::startTransfer(int row, bool oneAtATime, const QString& target) {
    tasks_.editTask(row, [](DownloadTask& t) {
        t.state = TaskState::Downloading;
        t.result = TaskResult::None;
        t.error.clear();
        t.size.clear();
        t.received.clear();
        t.percent.clear();
    });
    if (settings.autoLocate && hooks.locate)
        hooks.locate(row);
    const DownloadTask& t = tasks_.task(row);

    TransferJob job;
    job.owner = t.id;
    job.url = DownloadUrl(t.url);
    job.target = target;
    job.naming = {t.folder, t.name, t.type, settings.policy, oneAtATime};
    const QString address = job.url.toString();
    // The body kept by an earlier attempt is continued, even under another name.
    if (!t.partPath.isEmpty() && IsResumablePart(t.partPath, address)) {
        job.partPath = t.partPath;
    } else {
        job.partPath = PartPathFor(target, address);
        if (t.partPath != job.partPath)
            RemoveTaskPartFiles(t.ownedPartPath(), address);
    }
    job.userAgent = session_.userAgent();
    job.maxFileSizeMB = options_.MaxFileSizeMB;
    const bool alone = oneAtATime || settings.threads <= 1;
    job.networkBuffer = alone ? SingleTransferReadBuffer : TransferReadBuffer;
    job.reservations = reservations_;
    if (TaskListObserver* observer = tasks_.observer())
        job.beforeCommit = observer->fileCommitRecorder(t.id);
    if (oneAtATime) {
        job.referer = (t.referer.isEmpty() ? SiteRoot(t.url) : t.referer).toUtf8();
        job.proxy = ProgramProxy(options_);
        if (hooks.panel2)
            hooks.panel2(QStringLiteral("正在下载:") + t.name);
        if (hooks.panel3)
            hooks.panel3(TransferStateText(3));
    }
    const QString partPath = job.partPath;
    tasks_.editTask(row, [&partPath](DownloadTask& task) { task.partPath = partPath; });
    Running run;
    run.oneAtATime = oneAtATime;
    run.ticket = pool_->start(std::move(job));
    running_.insert(t.id, run);
    if (!progress_.isActive())
        progress_.start();
    updateActivity();
}

void DownloadScheduler::supervise() {
    updateActivity();
    const TaskListModel::Summary summary = tasks_.Summarize();
    if (summary.finished()) {
        if (hooks.startMenuEnabled)
            hooks.startMenuEnabled(true);
        if (tick_.isActive()) {
            setScheduling(false);
            if (settings.sound && hooks.playSound)
                hooks.playSound(SchedulerSounds::RunEnded);
            emit runEnded();
        }
    } else if (hooks.startMenuEnabled) {
        hooks.startMenuEnabled(!tick_.isActive());
    }
    if (hooks.runningIndicator)
        hooks.runningIndicator(tick_.isActive());
    if (hooks.panel4)
        hooks.panel4(TaskListModel::CountsText(tasks_.count(), summary));
    if (settings.autoStart && summary.notDownloaded >= 1)
        setScheduling(true);
    if (settings.autoRequeue && !tick_.isActive()) {
        if (settings.autoRequeueKind == 0 || settings.autoRequeueKind == 2)
            tasks_.RequeueFailedTasks();
        if (settings.autoRequeueKind == 1 || settings.autoRequeueKind == 2)
            tasks_.RequeueWebPageTasks();
        setScheduling(true);
    }
    if (settings.stopAfterProblems && tick_.isActive() &&
        tasks_.CountProblemTasks() >= ProblemLimit) {
        setScheduling(false);
        if (settings.sound && hooks.playSound)
            hooks.playSound(SchedulerSounds::RunEnded);
    }
    updateActivity();
}
