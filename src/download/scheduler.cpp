#include "download/scheduler.h"

#include "download/download_session.h"
#include "download/part_file.h"
#include "download/row_file_types.h"
#include "download/save_names.h"
#include "download/save_target.h"
#include "download/task_list.h"
#include "download/transfer_pool.h"
#include "search/address_names.h"
#include "search/result_parser.h"
#include "settings/settings_keys.h"
#include "settings/shared_options.h"
#include "tools/deferred_prompter.h"
#include "tools/file_helpers.h"
#include "tools/text_utils.h"
#include "tools/time_limits.h"

#include <QFileInfo>
#include <QScopedValueRollback>

namespace {
constexpr int SoundWebPage = 101;
constexpr int SoundRunEnded = 102;
constexpr int SoundFailed = 103;
constexpr int ProblemLimit = 5;

// The name an address suggests when the task's own cleans to nothing (a bare
// ".pdf" would be a hidden file).
QString NameFromAddress(const QString& url) {
    const QString name = SanitizeFileName(FileNameFromAddress(QUrl(url).path(), true));
    return name.isEmpty() ? QStringLiteral("download") : name;
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

QString Percent(qint64 received, qint64 total) {
    return QString::number(std::min(received, total) * 100 / total) + u'%';
}

} // namespace

QString TransferStateText(int state, int code, const QString& message) {
    static const char16_t* texts[] = {
        u"0 无状态可报告。",
        u"1 正在查询所指定的主机的 IP 地址...",
        u"2 已成功地找到所指定的主机的 IP 地址。",
        u"3 正在与主机连接...",
        u"4 已与主机连接成功。",
        u"5 正在向主机发送请求...",
        u"6 发送请求已成功。",
        u"7 正在接收主机的响应...",
        u"8 已成功地接收到主机的响应。",
        u"9 正在解除与主机的连接...",
        u"10 已成功地与主机解除了连接。",
        u"11 与主机通讯时出现了错误:",
        u"12 该请求已经完成，并且所有数据均已接收到。",
    };
    if (state == 11)
        return QString::fromUtf16(texts[11]) + QString::number(code) + u':' + message;
    if (state >= 0 && state <= 12)
        return QString::fromUtf16(texts[state]);
    return QString::number(code) + u':' + message;
}

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
    tasks_.editRows([](QList<DownloadTask>& list) {
        for (DownloadTask& t : list) {
            if (t.state == TaskState::Downloading) {
                t.state = TaskState::Failed;
                t.result = TaskResult::Cancelled;
                t.percent = QStringLiteral("下载取消");
            }
        }
    });
    updateActivity();
}

void DownloadScheduler::markExisting(int row, const QString& path) {
    const QString length = QString::number(QFileInfo(path).size());
    tasks_.editTask(row, [&](DownloadTask& t) {
        t.state = TaskState::Done;
        t.result = TaskResult::SkippedExisting;
        t.size = length;
        t.received = length;
        t.percent = QStringLiteral("已存在，跳过");
        t.error.clear();
        // A finished task keeps no unfinished body.
        RemovePartFiles(t.partPath);
        t.partPath.clear();
    });
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
    for (int row = 1; row <= tasks_.count(); ++row) {
        const DownloadTask& t = tasks_.task(row);
        if (t.state != TaskState::Waiting || running_.contains(t.id) ||
            (t.notBefore.isValid() && t.notBefore > now))
            continue;
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
            task.folder = WithTrailingSlash(folder);
        });
        if (oneAtATime) {
            // The server's type may still change the name; the rest is settled then.
            if (!确定是需要下载(row))
                continue;
            target = tasks_.task(row).filePath();
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
    job.url =
        QUrl(TrimSpaces(QString(t.url).replace(QStringLiteral("&amp;"), QStringLiteral("&"))));
    job.target = target;
    job.naming = {t.folder, t.name, t.type, settings.policy, oneAtATime};
    const QString address = job.url.toString();
    // The body kept by an earlier attempt is continued, even under another name.
    if (!t.partPath.isEmpty() && IsResumablePart(t.partPath, address)) {
        job.partPath = t.partPath;
    } else {
        job.partPath = PartPathFor(target, address);
        if (!t.partPath.isEmpty() && t.partPath != job.partPath)
            RemovePartFiles(t.partPath);
    }
    job.userAgent = session_.userAgent();
    job.maxBytes = options_.maxFileSizeBytes();
    job.reservations = reservations_;
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

void DownloadScheduler::refreshProgress() {
    for (auto it = running_.begin(); it != running_.end(); ++it) {
        Running& r = it.value();
        const int row = tasks_.rowOfId(it.key());
        if (r.stopped || row == 0 || !r.ticket->responded.load())
            continue;
        const qint64 total = r.ticket->total.load();
        const qint64 received = r.ticket->received.load();
        if (total > 0)
            tasks_.setProgress(row, QString::number(total), QString::number(received),
                               Percent(received, total));
        else
            tasks_.setProgress(row, QStringLiteral("未知"), QString::number(received), {});
        if (r.oneAtATime && !r.headShown && hooks.panel3) {
            r.headShown = true;
            hooks.panel3(TransferStateText(8));
        }
    }
    if (running_.isEmpty())
        progress_.stop();
}

void DownloadScheduler::onFinished(const std::shared_ptr<TransferTicket>& ticket) {
    const qint64 id = ticket->job.owner;
    const auto it = running_.constFind(id);
    if (it == running_.constEnd() || it->ticket != ticket)
        return;
    const Running run = *it;
    running_.remove(id);
    reservations_->release(id);
    const TransferOutcome& outcome = ticket->outcome;
    const int row = tasks_.rowOfId(id);
    if (row > 0) {
        const QString kept = outcome.partKept ? ticket->job.partPath : QString();
        tasks_.editTask(row, [&kept](DownloadTask& t) { t.partPath = kept; });
        // After Stop the row already says so; only a file that did arrive is still told.
        if (!run.stopped || outcome.result == TransferResult::Saved)
            applyOutcome(row, run, outcome);
    }
    if (running_.isEmpty())
        progress_.stop();
    updateActivity();
}

void DownloadScheduler::applyOutcome(int row, const Running& run, const TransferOutcome& o) {
    const auto show3 = [&](const QString& text) {
        if (run.oneAtATime && hooks.panel3)
            hooks.panel3(text);
    };
    const auto fail = [&](const QString& percent, TaskResult result) {
        tasks_.editTask(row, [&](DownloadTask& t) {
            t.state = TaskState::Failed;
            t.result = result;
            t.error = o.errorText;
            if (!percent.isEmpty()) {
                t.percent = percent;
            } else if (o.total > 0 && o.bytes > 0) {
                // Cut or stalled: the row keeps how far it got.
                t.size = QString::number(o.total);
                t.received = QString::number(o.bytes);
                t.percent = Percent(o.bytes, o.total);
            } else {
                t.size.clear();
                t.received.clear();
                t.percent.clear();
            }
            if (o.retryAfterSeconds > 0)
                t.notBefore = QDateTime::currentDateTime().addMSecs(
                    std::min<qint64>(qint64(o.retryAfterSeconds) * 1000,
                                     TimeLimits::Scaled(TimeLimits::RetryAfterCap).count()));
        });
        show3(TransferStateText(11, o.httpStatus ? o.httpStatus : o.networkError, o.errorText));
        afterTask(row, false);
    };

    switch (o.result) {
    case TransferResult::Saved: {
        const QString saved = o.savedPath;
        if (run.ticket->job.naming.policy == DuplicateNamePolicies::Overwrite) {
            // The file replaced was another row's: it no longer is, so that row's
            // commands must not delete it.
            for (int other = 1; other <= tasks_.count(); ++other) {
                if (other != row && tasks_.task(other).savedPath == saved)
                    tasks_.editTask(other, [](DownloadTask& t) { t.savedPath.clear(); });
            }
        }
        tasks_.editTask(row, [&](DownloadTask& t) {
            t.name = o.name;
            t.type = o.type;
            t.savedPath = saved;
            t.state = TaskState::Done;
            t.result = TaskResult::Saved;
            t.error.clear();
            t.notBefore = {};
            t.size = QString::number(o.total > 0 ? o.total : o.bytes);
            t.received = QString::number(o.bytes);
            t.percent = QStringLiteral("100%");
        });
        show3(TransferStateText(12));
        afterTask(row, true);
        return;
    }
    case TransferResult::TooBig:
        tasks_.editTask(row, [&](DownloadTask& t) {
            t.state = TaskState::Done;
            t.result = TaskResult::SkippedTooBig;
            if (o.total > 0)
                t.size = QString::number(o.total);
            t.percent = QStringLiteral("大文件，跳过");
        });
        show3(TransferStateText(12));
        afterTask(row, false);
        return;
    case TransferResult::Exists:
        tasks_.editTask(row, [&](DownloadTask& t) {
            t.name = o.name;
            t.type = o.type;
        });
        markExisting(row, o.savedPath);
        show3(TransferStateText(12));
        return;
    case TransferResult::NameBusy:
        // Another task still writes that name: this one goes back to the queue.
        tasks_.editTask(row, [](DownloadTask& t) {
            t.state = TaskState::Waiting;
            t.size = QStringLiteral("等待重新下载");
            t.received.clear();
            t.percent.clear();
        });
        return;
    case TransferResult::CannotReplace: {
        const QString length =
            FileExists(o.savedPath) ? QString::number(QFileInfo(o.savedPath).size()) : QString();
        tasks_.editTask(row, [&](DownloadTask& t) {
            t.size = length;
            t.received = length;
        });
        fail(QStringLiteral("无法替换"), TaskResult::Failed);
        return;
    }
    case TransferResult::Cancelled:
        fail(QStringLiteral("下载取消"), TaskResult::Cancelled);
        return;
    default:
        fail({}, TaskResult::Failed);
        return;
    }
}

void DownloadScheduler::afterTask(int row, bool saved) {
    if (saved) {
        CorrectRowType(tasks_, row);
        BaseReferenceStep(tasks_, row);
    }
    const DownloadTask& t = tasks_.task(row);
    if (hooks.panel2)
        hooks.panel2(QStringLiteral("完成下载:") + t.name);
    const bool webPage = t.hasWebPageType();
    if (settings.sound && hooks.playSound) {
        if (webPage)
            hooks.playSound(SoundWebPage);
        if (t.state == TaskState::Failed)
            hooks.playSound(SoundFailed);
    }
    if (settings.autoLogin && webPage && hooks.login)
        hooks.login(row);
    lastFinish_ = QDateTime::currentDateTime();
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
                hooks.playSound(SoundRunEnded);
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
            hooks.playSound(SoundRunEnded);
    }
    updateActivity();
}
