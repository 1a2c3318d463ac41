#include "download/download_session.h"

#include "tools/text_utils.h"

#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

DownloadSession::DownloadSession(QWebEngineProfile* profile, QObject* parent)
    : QObject(parent)
    , jar_(new QNetworkCookieJar(this)) {
    for (QNetworkAccessManager* nam : {&direct_, &proxied_}) {
        nam->setCookieJar(jar_);
        jar_->setParent(this); // shared by both managers, owned here
        nam->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
        nam->setProxy(QNetworkProxy::NoProxy);
    }
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

void DownloadSession::setProxy(bool enabled, const QString& address, const QString& port) {
    const QString host = TrimSpaces(address);
    bool ok = false;
    const uint number = TrimSpaces(port).toUInt(&ok);
    if (enabled && !host.isEmpty() && ok && number > 0 && number < 65536)
        proxied_.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, host, quint16(number)));
    else
        proxied_.setProxy(QNetworkProxy::NoProxy);
}

QNetworkRequest DownloadSession::request(const QUrl& url) const {
    QNetworkRequest request(url);
    request.setMaximumRedirectsAllowed(MaxDownloadRedirects);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    if (!userAgent_.isEmpty())
        request.setHeader(QNetworkRequest::UserAgentHeader, userAgent_);
    return request;
}

QNetworkReply* DownloadSession::get(QNetworkAccessManager& nam,
                                    const QNetworkRequest& request) const {
    QNetworkReply* reply = nam.get(request);
    reply->setReadBufferSize(DownloadReadBuffer);
    return reply;
}
