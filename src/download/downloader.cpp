#include "download/downloader.h"

#include "download/download_session.h"
#include "tools/time_limits.h"

#include <QFileInfo>
#include <QNetworkReply>

#include <filesystem>

namespace {

// Reserves the name on disk while the download runs.
bool WritePlaceholder(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write("\x01\x00", 2) == 2;
}

bool IsEncoded(const QNetworkReply* reply) {
    return !reply->rawHeader("Content-Encoding").trimmed().isEmpty() &&
           reply->rawHeader("Content-Encoding").trimmed().toLower() != "identity";
}

} // namespace

Downloader::Downloader(int index, DownloadSession& session, QObject* parent)
    : QObject(parent)
    , index_(index)
    , session_(session) {
    stallTimer_.setInterval(TimeLimits::Scaled(TimeLimits::StallCheck));
    connect(&stallTimer_, &QTimer::timeout, this, &Downloader::checkStall);
}

Downloader::~Downloader() {
    stop();
}

QString Downloader::PartPath(const QString& savePath) {
    return savePath + QStringLiteral(".part");
}

void Downloader::BeginDownload(const QString& url, const QString& savePath,
                               const QString& referer) {
    Q_UNUSED(referer); // parallel downloads send no referer of their own
    savePath_ = savePath;
    ended_ = false;
    bytesMax_ = bytesRead_ = lastSeen_ = 0;
    sinceProgress_.start();
    sinceReport_.invalidate();
    stallTimer_.start();
    if (!WritePlaceholder(savePath)) {
        fail(QStringLiteral("无法下载"));
        return;
    }
    part_.setFileName(PartPath(savePath));
    if (!part_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        fail(QStringLiteral("无法下载"));
        return;
    }
    const QString address =
        QString(url).replace(QStringLiteral("&amp;"), QStringLiteral("&")).trimmed();
    reply_ = session_.get(session_.direct(), session_.request(QUrl(address)));
    connect(reply_, &QIODevice::readyRead, this, &Downloader::onReadyRead);
    connect(reply_, &QNetworkReply::downloadProgress, this, &Downloader::onProgress);
    connect(reply_, &QNetworkReply::finished, this, &Downloader::onFinished);
}

void Downloader::CancelAsyncRead() {
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
        reply_->deleteLater();
    }
}

void Downloader::stop() {
    stallTimer_.stop();
    CancelAsyncRead();
    if (part_.isOpen())
        part_.close();
    if (!ended_ && !savePath_.isEmpty())
        QFile::remove(PartPath(savePath_));
    ended_ = true;
}

void Downloader::fail(const QString& message) {
    const QString path = savePath_;
    stop();
    // A placeholder left behind would pass for a downloaded file (and be skipped next time).
    QFile placeholder(path);
    if (placeholder.size() == 2 && placeholder.open(QIODevice::ReadOnly) &&
        placeholder.readAll() == QByteArray("\x01\x00", 2)) {
        placeholder.close();
        placeholder.remove();
    }
    emit DownloadError(index_, message, path);
}

void Downloader::onReadyRead() {
    if (!reply_ || ended_)
        return;
    const QByteArray bytes = reply_->readAll();
    if (part_.write(bytes) != bytes.size())
        fail(QStringLiteral("无法下载")); // disk full or the like
}

void Downloader::onProgress(qint64 received, qint64 total) {
    if (ended_)
        return;
    bytesRead_ = received;
    if (total < 1 || (reply_ && IsEncoded(reply_)))
        return; // no usable total: the completion decides
    if (reply_ && reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() >= 400)
        return; // an error page is no progress of the file
    bytesMax_ = total;
    // The first report goes out at once (the size rule acts on it); later ones are thinned out.
    if (sinceReport_.isValid() && sinceReport_.elapsed() < TimeLimits::ProgressRefresh.count() &&
        received < total)
        return;
    sinceReport_.start();
    emit DownloadProgress(index_, received, total, savePath_);
}

void Downloader::onFinished() {
    if (!reply_ || ended_)
        return;
    onReadyRead();
    if (ended_)
        return;
    const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool failed = reply_->error() != QNetworkReply::NoError || status >= 400;
    const bool encoded = IsEncoded(reply_);
    part_.close();
    const qint64 written = QFileInfo(part_.fileName()).size();
    if (failed || written < 1) {
        fail(QStringLiteral("无法下载"));
        return;
    }
    std::error_code error;
    std::filesystem::rename(QFile::encodeName(part_.fileName()).toStdString(),
                            QFile::encodeName(savePath_).toStdString(), error);
    if (error) {
        fail(QStringLiteral("无法下载"));
        return;
    }
    ended_ = true;
    stallTimer_.stop();
    reply_->deleteLater();
    // Without a usable announced total the file's own length stands for both.
    const qint64 max = bytesMax_ < 1 || encoded ? written : bytesMax_;
    emit DownloadComplete(index_, written, max, savePath_);
}

void Downloader::checkStall() {
    if (ended_)
        return;
    if (bytesRead_ != lastSeen_) {
        lastSeen_ = bytesRead_;
        sinceProgress_.start();
        return;
    }
    if (sinceProgress_.elapsed() >= TimeLimits::Scaled(TimeLimits::StallLimit).count())
        fail(QStringLiteral("超时"));
}
