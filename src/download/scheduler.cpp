#include "download/scheduler.h"

#include "download/download_session.h"
#include "download/downloader.h"
#include "download/inet_transfer.h"
#include "download/row_file_types.h"
#include "download/save_names.h"
#include "download/task_list.h"
#include "settings/settings_keys.h"
#include "settings/shared_options.h"
#include "tools/file_helpers.h"
#include "tools/notify_sound.h"
#include "tools/time_limits.h"

#include <QFileInfo>

namespace {
constexpr int SoundWebPage = 101;
constexpr int SoundRunEnded = 102;
constexpr int SoundFailed = 103;
constexpr int ProblemLimit = 5;
} // namespace

DownloadScheduler::DownloadScheduler(TaskListModel& tasks, SharedOptions& options,
                                     DownloadSession& session, Prompter& prompter, QObject* parent)
    : QObject(parent)
    , tasks_(tasks)
    , options_(options)
    , session_(session)
    , prompter_(prompter)
    , inet_(new InetTransfer(tasks, options, session, activity, prompter, this))
    , lastFinish_(QDateTime::fromMSecsSinceEpoch(0)) {
    inet_->policy = [this] { return settings.policy; };
    inet_->reports.panel2 = [this](const QString& t) {
        if (hooks.panel2)
            hooks.panel2(t);
    };
    inet_->reports.panel3 = [this](const QString& t) {
        if (hooks.panel3)
            hooks.panel3(t);
    };
    tick_.setObjectName(QStringLiteral("Timer_Down"));
    supervisor_.setObjectName(QStringLiteral("Timer1"));
    tick_.setInterval(TimeLimits::Scaled(TimeLimits::SchedulerTick));
    supervisor_.setInterval(TimeLimits::Scaled(TimeLimits::SupervisorTick));
    connect(&tick_, &QTimer::timeout, this, &DownloadScheduler::tick);
    connect(&supervisor_, &QTimer::timeout, this, &DownloadScheduler::supervise);
    rowOf_.fill(0);
}

DownloadScheduler::~DownloadScheduler() {
    for (int k = 1; k <= MaxDownloaders; ++k)
        unload(k);
}

void DownloadScheduler::setScheduling(bool on) {
    // Switching on a running tick must not restart its countdown.
    if (on && !tick_.isActive())
        tick_.start();
    else if (!on)
        tick_.stop();
    updateActivity();
}

void DownloadScheduler::updateActivity() {
    activity.schedulerOn = tick_.isActive();
    activity.transferExecuting = inet_->StillExecuting();
    int loaded = 0;
    for (int k = 1; k <= MaxDownloaders; ++k)
        loaded += downloaders_[k] ? 1 : 0;
    activity.loadedDownloaders = loaded;
}

void DownloadScheduler::Start() {
    setScheduling(true);
}

void DownloadScheduler::Stop() {
    settings.autoStart = false;
    settings.autoRequeue = false;
    if (hooks.autoOptionsCleared)
        hooks.autoOptionsCleared();
    inet_->Cancel();
    setScheduling(false);
    activity.busy = false;
    inet_->Cancel();
    for (int k = 1; k <= MaxDownloaders; ++k)
        unload(k);
    tasks_.editRows([](QList<DownloadTask>& list) {
        for (DownloadTask& t : list) {
            if (t.state == TaskState::Downloading)
                t.state = TaskState::Failed;
        }
    });
    activity.busy = false;
    updateActivity();
}

bool DownloadScheduler::确定是需要下载(int row) {
    const DownloadTask& t = tasks_.task(row);
    const QString path = t.filePath();
    if (FileExists(path) && settings.policy == DuplicateNamePolicies::Skip) {
        const QString length = QString::number(QFileInfo(path).size());
        tasks_.setState(row, TaskState::Done);
        tasks_.setCell(row, TaskListModel::SizeColumn, length);
        tasks_.setCell(row, TaskListModel::ReceivedColumn, length);
        tasks_.setCell(row, TaskListModel::PercentColumn, QStringLiteral("已存在，跳过"));
        return false;
    }
    return true;
}

void DownloadScheduler::tick() {
    if (tasks_.count() == 0) {
        setScheduling(false);
        return;
    }
    const qint64 sinceFinish = qAbs(lastFinish_.msecsTo(QDateTime::currentDateTime()));
    if (sinceFinish <= qint64(settings.intervalSeconds) * 1000)
        return;

    // Finds the first waiting row that needs downloading, preparing each one on the way.
    const auto nextRow = [this](bool ensureFolder) {
        for (int row = 1; row <= tasks_.count(); ++row) {
            if (tasks_.task(row).state != TaskState::Waiting)
                continue;
            tasks_.setName(row, SanitizeFileName(tasks_.task(row).name));
            QString folder = tasks_.task(row).folder;
            if (ensureFolder) {
                const QString made = EnsureFolder(folder, prompter_);
                if (made.isEmpty()) {
                    tasks_.setState(row, TaskState::Failed); // a folder that cannot be made
                    continue;
                }
                folder = made;
            }
            if (!folder.endsWith(u'/'))
                folder += u'/';
            tasks_.setCell(row, TaskListModel::FolderColumn, folder);
            if (确定是需要下载(row))
                return row;
        }
        return 0;
    };

    if (options_.DownloadMethod == 1) {
        if (activity.busy)
            return;
        const int row = nextRow(false);
        if (row == 0)
            return;
        tasks_.setState(row, TaskState::Downloading);
        if (settings.autoLocate && hooks.locate)
            hooks.locate(row);
        tasks_.clearProgress(row);
        Inet下载当前文件(row);
        return;
    }

    for (int k = 1; k <= std::clamp(settings.threads, 1, MaxDownloaders); ++k) {
        if (downloaders_[k])
            continue;
        const int row = nextRow(true);
        if (row == 0)
            break;
        tasks_.setState(row, TaskState::Downloading);
        if (settings.autoLocate && hooks.locate)
            hooks.locate(row);
        const DownloadTask& t = tasks_.task(row);
        const SaveTarget target = 重命名保存路径(t.folder, t.name, t.type, settings.policy);
        tasks_.setName(row, target.name);
        rowOf_[k] = row;
        多线程下载(k, row, tasks_.task(row).url, target.path);
    }
}

QCoro::Task<void> DownloadScheduler::Inet下载当前文件(int row) {
    QPointer<DownloadScheduler> self = this;
    if (inet_->StillExecuting() || activity.busy) {
        tasks_.setState(row, TaskState::Waiting);
        tasks_.setCell(row, TaskListModel::SizeColumn, QStringLiteral("等待重新下载"));
        co_return;
    }
    activity.busy = true;
    updateActivity();
    const bool saved = co_await inet_->Inet下载文件(row);
    if (!self)
        co_return;
    activity.busy = false;
    updateActivity();
    afterTask(row, saved && tasks_.task(row).percent == u"100%");
}

void DownloadScheduler::多线程下载(int k, int row, const QString& url, const QString& path) {
    auto* downloader = new Downloader(k, session_, this);
    downloaders_[k] = downloader;
    activity.busy = true;
    tasks_.setState(row, TaskState::Downloading);
    tasks_.clearProgress(row);
    connect(downloader, &Downloader::DownloadProgress, this,
            [this](int i, qint64 read, qint64 max) { onProgress(i, read, max); });
    connect(downloader, &Downloader::DownloadComplete, this,
            [this](int i, qint64 read, qint64 max) { onComplete(i, read, max); });
    connect(downloader, &Downloader::DownloadError, this, [this](int i) { onError(i); });
    updateActivity();
    downloader->BeginDownload(url, path, tasks_.task(row).referer);
}

void DownloadScheduler::unload(int k) {
    if (k < 1 || k > MaxDownloaders || !downloaders_[k])
        return;
    Downloader* d = downloaders_[k];
    downloaders_[k] = nullptr;
    d->disconnect(this); // nothing it still says reaches a row
    d->deleteLater();
    d->CancelAsyncRead();
    rowOf_[k] = 0;
    updateActivity();
}

void DownloadScheduler::onProgress(int k, qint64 read, qint64 max) {
    const int row = k >= 1 && k <= MaxDownloaders ? rowOf_[k] : 0;
    if (row < 1 || row > tasks_.count() || max <= 0 || max < read)
        return;
    tasks_.setCell(row, TaskListModel::SizeColumn, QString::number(max));
    tasks_.setCell(row, TaskListModel::ReceivedColumn, QString::number(read));
    tasks_.setCell(row, TaskListModel::PercentColumn, QString::number(read * 100 / max) + u'%');
    if (double(max) / 1024.0 / 1024.0 > options_.MaxFileSizeMB) {
        tasks_.setState(row, TaskState::Done);
        tasks_.setCell(row, TaskListModel::PercentColumn, QStringLiteral("大文件，跳过"));
        lastFinish_ = QDateTime::currentDateTime();
        unload(k);
    }
}

void DownloadScheduler::onComplete(int k, qint64 read, qint64 max) {
    const int row = k >= 1 && k <= MaxDownloaders ? rowOf_[k] : 0;
    if (row < 1 || row > tasks_.count())
        return;
    if (max > 0 && max >= read) {
        tasks_.setCell(row, TaskListModel::SizeColumn, QString::number(max));
        tasks_.setCell(row, TaskListModel::ReceivedColumn, QString::number(read));
        tasks_.setCell(row, TaskListModel::PercentColumn, QString::number(read * 100 / max) + u'%');
    }
    const bool complete = tasks_.task(row).percent == u"100%";
    tasks_.setState(row, complete ? TaskState::Done : TaskState::Failed);
    unload(k);
    afterTask(row, complete);
}

void DownloadScheduler::onError(int k) {
    const int row = k >= 1 && k <= MaxDownloaders ? rowOf_[k] : 0;
    if (row >= 1 && row <= tasks_.count())
        tasks_.setState(row, TaskState::Failed);
    unload(k);
    lastFinish_ = QDateTime::currentDateTime();
    if (row >= 1 && row <= tasks_.count() && settings.sound && hooks.playSound)
        hooks.playSound(SoundFailed);
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
    if (options_.DownloadMethod == 1) {
        if (!inet_->StillExecuting() && !tick_.isActive())
            activity.busy = false;
    } else {
        activity.busy = tick_.isActive();
    }
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
