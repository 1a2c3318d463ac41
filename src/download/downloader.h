#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QTimer>

class DownloadSession;
class QNetworkReply;

// One parallel download: reads a URL into a ".part" file beside the target and
// replaces the two-byte placeholder at the target with it when complete.
// Destroying it stops the download; no event follows.
class Downloader : public QObject {
    Q_OBJECT

public:
    Downloader(int index, DownloadSession& session, QObject* parent = nullptr);
    ~Downloader() override;

    int index() const { return index_; }
    void BeginDownload(const QString& url, const QString& savePath, const QString& referer);
    void CancelAsyncRead();

    // Where the body goes while it arrives.
    static QString PartPath(const QString& savePath);

signals:
    void DownloadProgress(int index, qint64 bytesRead, qint64 bytesMax, const QString& savePath);
    void DownloadComplete(int index, qint64 bytesRead, qint64 bytesMax, const QString& savePath);
    // message: "超时" or "无法下载"
    void DownloadError(int index, const QString& message, const QString& savePath);

private:
    void onReadyRead();
    void onProgress(qint64 received, qint64 total);
    void onFinished();
    void checkStall();
    void fail(const QString& message);
    void stop();

    int index_;
    DownloadSession& session_;
    QString savePath_;
    QFile part_;
    QPointer<QNetworkReply> reply_;
    QTimer stallTimer_;
    QElapsedTimer sinceProgress_;
    QElapsedTimer sinceReport_;
    qint64 bytesMax_ = 0;
    qint64 bytesRead_ = 0;
    qint64 lastSeen_ = 0;
    bool ended_ = false;
};
