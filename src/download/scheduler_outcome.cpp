#include "download/scheduler.h"

#include "download/part_file.h"
#include "download/row_file_types.h"
#include "download/save_target.h"
#include "download/task_list.h"
#include "download/transfer_types.h"
#include "settings/settings_keys.h"
#include "tools/file_helpers.h"
#include "tools/time_limits.h"

#include <QFileInfo>

// What the end of a transfer does to its row, and the progress shown meanwhile.

namespace {

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
        RemoveTaskPartFiles(t.ownedPartPath(), DownloadAddress(t.url));
        t.partPath.clear();
    });
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
        QString kept = outcome.partKept ? ticket->job.partPath : QString();
        // The row's address changed meanwhile: a part of the old one is not its to continue.
        const QString address = ticket->job.url.toString();
        if (!kept.isEmpty() && DownloadAddress(tasks_.task(row).url) != address) {
            RemoveTaskPartFiles(kept, address);
            kept.clear();
        }
        tasks_.editTask(row, [&kept](DownloadTask& t) { t.partPath = kept; });
        // After Stop the row already says so; only a file that did arrive is still told.
        if (!run.stopped || outcome.result == TransferResult::Saved)
            applyOutcome(row, run, outcome);
    }
    if (running_.isEmpty())
        progress_.stop();
    updateActivity();
}

void DownloadScheduler::waitForHost(int row, const Running& run, const TransferOutcome& o) {
    // Kept under the task's own host, as the tasks are held by it.
    const QDateTime until = hostWaits_.busy(hostOf(tasks_.task(row)), o.retryAfterSeconds,
                                            QDateTime::currentDateTime());
    tasks_.editTask(row, [&](DownloadTask& t) {
        t.state = TaskState::Waiting;
        t.result = TaskResult::None;
        t.error = o.errorText;
        t.notBefore = until;
        t.size.clear();
        t.received.clear();
        t.percent = RetryLaterText(until);
    });
    if (run.oneAtATime && hooks.panel3)
        hooks.panel3(TransferStateText(11, o.httpStatus, o.errorText));
}

void DownloadScheduler::applyOutcome(int row, const Running& run, const TransferOutcome& o) {
    if (o.result == TransferResult::HttpError && HostWaits::IsBusyAnswer(o.httpStatus)) {
        waitForHost(row, run, o);
        return;
    }
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
        hostWaits_.answered(hostOf(tasks_.task(row)));
        const QString saved = o.savedPath;
        // Whatever another row once wrote there (replaced, or deleted by the user
        // since) is gone: that row's commands must not delete this file.
        for (int other = 1; other <= tasks_.count(); ++other) {
            if (other != row && tasks_.task(other).savedPath == saved)
                tasks_.editTask(other, [](DownloadTask& t) { t.savedPath.clear(); });
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
        // Another task still writes that name: this one goes back to the queue,
        // with the server's type, so it is not asked for again while the name is busy.
        tasks_.editTask(row, [&o](DownloadTask& t) {
            t.type = o.type;
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
    case TransferResult::TruncatedPdf:
        tasks_.editTask(row, [&](DownloadTask& t) {
            t.size = o.total >= 0 ? QString::number(o.total) : QString();
            t.received = QString::number(o.bytes);
        });
        fail(QStringLiteral("PDF不完整"), TaskResult::Failed);
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
            hooks.playSound(SchedulerSounds::WebPage);
        if (t.state == TaskState::Failed)
            hooks.playSound(SchedulerSounds::Failed);
    }
    if (settings.autoLogin && webPage && hooks.login)
        hooks.login(row);
    lastFinish_ = QDateTime::currentDateTime();
}
