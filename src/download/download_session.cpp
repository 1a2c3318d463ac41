#include "download/download_session.h"

#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

bool SessionCookieJar::insertCookie(const QNetworkCookie& cookie) {
    const bool inserted = QNetworkCookieJar::insertCookie(cookie);
    if (inserted)
        emit cookieInserted(cookie);
    return inserted;
}

bool SessionCookieJar::deleteCookie(const QNetworkCookie& cookie) {
    const bool deleted = QNetworkCookieJar::deleteCookie(cookie);
    if (deleted)
        emit cookieDeleted(cookie);
    return deleted;
}

DownloadSession::DownloadSession(QWebEngineProfile* profile, QObject* parent)
    : QObject(parent)
    , jar_(new SessionCookieJar(this)) {
    if (profile) {
        userAgent_ = profile->httpUserAgent().toUtf8();
        QWebEngineCookieStore* store = profile->cookieStore();
        connect(store, &QWebEngineCookieStore::cookieAdded, this,
                [this](const QNetworkCookie& cookie) { jar_->insertCookie(cookie); });
        connect(store, &QWebEngineCookieStore::cookieRemoved, this,
                [this](const QNetworkCookie& cookie) { jar_->deleteCookie(cookie); });
        store->loadAllCookies();
    }
}
