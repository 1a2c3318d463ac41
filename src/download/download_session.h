#pragma once

#include <QNetworkAccessManager>
#include <QObject>

class QNetworkCookieJar;
class QWebEngineProfile;

// Most redirects a download follows.
inline constexpr int MaxDownloadRedirects = 20;
// Body bytes a download may hold in memory before the network waits for the disk.
inline constexpr qint64 DownloadReadBuffer = 4 * 1024 * 1024;

// The downloads' side of the browser identity: the browser profile's cookies,
// mirrored into one cookie jar, and its User-Agent. So a login made in any
// browser pane is carried by the downloads.
class DownloadSession : public QObject {
    Q_OBJECT

public:
    // profile may be null (a batch run without a browser).
    explicit DownloadSession(QWebEngineProfile* profile, QObject* parent = nullptr);

    // Requests of the parallel downloads: never through a proxy.
    QNetworkAccessManager& direct() { return direct_; }
    // Requests of the one-at-a-time path, through the proxy when one is set.
    QNetworkAccessManager& proxied() { return proxied_; }
    void setProxy(bool enabled, const QString& address, const QString& port);

    QNetworkCookieJar* cookieJar() const { return jar_; }
    // A GET for url with the browser's User-Agent, redirects and no cache.
    QNetworkRequest request(const QUrl& url) const;
    // Starts a GET whose unread body never grows past DownloadReadBuffer.
    QNetworkReply* get(QNetworkAccessManager& nam, const QNetworkRequest& request) const;

private:
    QNetworkCookieJar* jar_;
    QNetworkAccessManager direct_;
    QNetworkAccessManager proxied_;
    QByteArray userAgent_;
};
