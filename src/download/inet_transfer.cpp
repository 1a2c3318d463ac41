#include "download/inet_transfer.h"

#include "download/download_activity.h"
#include "download/download_session.h"
#include "download/save_names.h"
#include "download/task_list.h"
#include "search/result_parser.h"
#include "settings/settings_keys.h"
#include "settings/shared_options.h"
#include "tools/file_helpers.h"
#include "tools/paths.h"
#include "tools/text_utils.h"
#include "tools/time_limits.h"
#include "tools/wait.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkReply>

using std::chrono::milliseconds;

namespace {

QString Percent(qint64 received, qint64 size) {
    return QString::number(received * 100 / size) + u'%';
}

bool IsEncoded(const QNetworkReply* reply) {
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    return !encoding.isEmpty() && encoding != "identity";
}

} // namespace

InetTransfer::InetTransfer(TaskListModel& tasks, SharedOptions& options, DownloadSession& session,
                           DownloadActivity& activity, Prompter& prompter, QObject* parent)
    : QObject(parent)
    , tasks_(tasks)
    , options_(options)
    , session_(session)
    , activity_(activity)
    , prompter_(prompter) {}

QString InetTransfer::StateText(int state, int code, const QString& message) {
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

void InetTransfer::Cancel() {
    if (reply_)
        reply_->abort();
}

QCoro::Task<bool> InetTransfer::Inet下载文件(int row) {
    QPointer<InetTransfer> self = this;
    const auto show2 = [this](const QString& t) {
        if (reports.panel2)
            reports.panel2(t);
    };
    const auto show3 = [this](const QString& t) {
        if (reports.panel3)
            reports.panel3(t);
    };
    const QString url = tasks_.task(row).url;
    const QString referer = tasks_.task(row).referer;

    activity_.busy = true;
    executing_ = true;
    show2(QStringLiteral("正在下载:") + tasks_.task(row).name);
    session_.setProxy(options_.ProxyEnabled == 1, options_.ProxyAddress, options_.ProxyPort);
    QNetworkRequest request = session_.request(QUrl(url));
    request.setRawHeader("Referer", (referer.isEmpty() ? SiteRoot(url) : referer).toUtf8());
    QNetworkReply* reply = session_.get(session_.proxied(), request);
    reply_ = reply;
    reply->setParent(this);
    show3(StateText(3));
    connect(reply, &QNetworkReply::metaDataChanged, this, [show3] { show3(StateText(8)); });
    connect(reply, &QNetworkReply::errorOccurred, this,
            [show3, reply](QNetworkReply::NetworkError code) {
                if (code != QNetworkReply::OperationCanceledError)
                    show3(StateText(11, int(code), reply->errorString()));
            });

    bool done = false;
    QFile file;
    QString path;
    const auto finish = [&](TaskState state) {
        tasks_.setState(row, state);
        done = state == TaskState::Done;
    };

    // Headers: at most 30 seconds.
    QElapsedTimer clock;
    clock.start();
    const milliseconds headerWait = TimeLimits::Scaled(TimeLimits::HeaderWait);
    while (!reply->isFinished() &&
           !reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
        const milliseconds left = headerWait - milliseconds(clock.elapsed());
        if (left <= milliseconds(0))
            break;
        co_await WaitForSignals(reply, left, &QNetworkReply::metaDataChanged,
                                &QNetworkReply::finished);
        if (!self)
            co_return false;
    }

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    bool ok = false;
    const qint64 announced =
        TrimSpaces(QString::fromLatin1(reply->rawHeader("Content-Length"))).toLongLong(&ok);
    const qint64 size = ok && announced > 0 ? announced : 0;
    const bool encoded = IsEncoded(reply);

    if (status == 0) {
        // No response headers at all (refused, unreachable, TLS failure, time-out).
        reply->abort();
        finish(TaskState::Failed);
    } else if (status >= 400) {
        // An error page is not the file: nothing is saved.
        show3(StateText(11, status,
                        reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString()));
        reply->abort();
        finish(TaskState::Failed);
    } else if (size > 0 && double(size) / 1024.0 / 1024.0 > options_.MaxFileSizeMB) {
        reply->abort();
        tasks_.setCell(row, TaskListModel::SizeColumn, QString::number(size));
        tasks_.setCell(row, TaskListModel::PercentColumn, QStringLiteral("大文件，跳过"));
        finish(TaskState::Done);
    } else {
        if (size > 0)
            tasks_.setCell(row, TaskListModel::SizeColumn, QString::number(size));
        QString contentType =
            TrimSpaces(reply->header(QNetworkRequest::ContentTypeHeader).toString());
        contentType = TrimSpaces(contentType.section(u';', 0, 0));
        const QString extension = MimeToExtension(contentType);

        const QString folder = EnsureFolder(tasks_.task(row).folder, prompter_);
        if (folder.isEmpty()) {
            reply->abort();
            finish(TaskState::Failed);
        } else {
            tasks_.setCell(row, TaskListModel::FolderColumn, WithTrailingSlash(folder));
            if (!extension.isEmpty() && !extension.contains(u'/'))
                tasks_.setCell(row, TaskListModel::TypeColumn, extension);
            const DownloadTask& t = tasks_.task(row);
            if ((policy ? policy() : DuplicateNamePolicies::Rename) ==
                DuplicateNamePolicies::Rename) {
                const SaveTarget target =
                    重命名保存路径(t.folder, t.name, t.type, DuplicateNamePolicies::Rename);
                tasks_.setCell(row, TaskListModel::NameColumn, target.name);
                path = target.path;
            } else {
                path = t.filePath();
            }
            if (AnythingExists(path))
                QFile::remove(path);
            file.setFileName(path);
            if (AnythingExists(path)) {
                reply->abort();
                const QString length = QString::number(QFileInfo(path).size());
                tasks_.setCell(row, TaskListModel::SizeColumn, length);
                tasks_.setCell(row, TaskListModel::ReceivedColumn, length);
                tasks_.setCell(row, TaskListModel::PercentColumn, QStringLiteral("无法替换"));
                finish(TaskState::Failed);
            } else if (!file.open(QIODevice::WriteOnly)) {
                reply->abort();
                finish(TaskState::Failed);
            }
        }
    }

    if (file.isOpen()) {
        if (size > 0)
            tasks_.setCell(row, TaskListModel::ReceivedColumn, QStringLiteral("0"));
        else
            tasks_.setCell(row, TaskListModel::SizeColumn, QStringLiteral("未知"));
        qint64 written = 0;
        qint64 shown = -1;
        QElapsedTimer sinceGrowth;
        sinceGrowth.start();
        QElapsedTimer sinceShown;
        sinceShown.start();
        const milliseconds stall = TimeLimits::Scaled(TimeLimits::StallLimit);
        bool writeFailed = false;
        for (;;) {
            const QByteArray bytes = reply->isOpen() ? reply->readAll() : QByteArray();
            if (!bytes.isEmpty()) {
                if (file.write(bytes) != bytes.size()) {
                    writeFailed = true;
                    break;
                }
                written += bytes.size();
                sinceGrowth.start();
            }
            const bool finished = reply->isFinished() && reply->bytesAvailable() == 0;
            if (size > 0 && written != shown &&
                (finished || sinceShown.elapsed() >= TimeLimits::ProgressRefresh.count())) {
                tasks_.setCell(row, TaskListModel::ReceivedColumn, QString::number(written));
                tasks_.setCell(row, TaskListModel::PercentColumn,
                               Percent(std::min(written, size), size));
                shown = written;
                sinceShown.start();
            }
            if (finished || !activity_.busy)
                break;
            const milliseconds left = stall - milliseconds(sinceGrowth.elapsed());
            if (left <= milliseconds(0))
                break;
            co_await WaitForSignals(reply,
                                    std::min(left, milliseconds(TimeLimits::ProgressRefresh)),
                                    &QIODevice::readyRead, &QNetworkReply::finished);
            if (!self)
                co_return false;
        }
        file.close();
        const bool complete = reply->isFinished() && reply->error() == QNetworkReply::NoError &&
                              !writeFailed && (size == 0 || encoded || written >= size);
        const bool cancelled = !complete && !activity_.busy;
        if (!reply->isFinished())
            reply->abort();
        if (cancelled) {
            QFile::remove(path);
            tasks_.setCell(row, TaskListModel::PercentColumn, QStringLiteral("下载取消"));
            finish(TaskState::Failed);
        } else if (complete && written > 0) {
            if (size == 0 || encoded) {
                tasks_.setCell(row, TaskListModel::SizeColumn, QString::number(written));
                tasks_.setCell(row, TaskListModel::ReceivedColumn, QString::number(written));
            }
            tasks_.setCell(row, TaskListModel::PercentColumn, QStringLiteral("100%"));
            finish(TaskState::Done);
        } else if (size == 0) {
            // Nothing came: no file, empty progress.
            QFile::remove(path);
            tasks_.clearProgress(row);
            finish(TaskState::Failed);
        } else {
            // Stalled or cut off: the partial file stays, the percent keeps its last value.
            finish(TaskState::Failed);
        }
    }

    if (reply_)
        reply_->deleteLater();
    executing_ = false;
    show3(StateText(12));
    co_return done;
}
