#pragma once

#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QObject>

class QWebEngineProfile;

// The downloads' cookie jar: tells whoever mirrors it of every change.
class SessionCookieJar : public QNetworkCookieJar {
    Q_OBJECT

public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookies() const { return allCookies(); }
    bool insertCookie(const QNetworkCookie& cookie) override;
    bool deleteCookie(const QNetworkCookie& cookie) override;

signals:
    void cookieInserted(const QNetworkCookie& cookie);
    void cookieDeleted(const QNetworkCookie& cookie);
};

// The downloads' side of the browser identity: the browser profile's cookies,
// mirrored into one cookie jar, and its User-Agent. So a login made in any
// browser pane is carried by the downloads.
class DownloadSession : public QObject {
    Q_OBJECT

public:
    // profile may be null (a batch run without a browser).
    explicit DownloadSession(QWebEngineProfile* profile, QObject* parent = nullptr);

    SessionCookieJar* cookieJar() const { return jar_; }
    QByteArray userAgent() const { return userAgent_; }

private:
    SessionCookieJar* jar_;
    QByteArray userAgent_;
};
