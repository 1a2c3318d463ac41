#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class QNetworkCookie;
class QWebEngineProfile;

// One cookie, as the cache viewer names it: "Cookie:name@host/path".
struct CookieId {
    QString name;
    QString host;
    QString path;

    QString rowText() const;
    bool operator==(const CookieId&) const = default;
};

// The file that holds a browser profile's persistent cookies.
QString CookieDatabasePath(const QString& storageFolder);

// The cookies stored in a profile's cookie database, read-only. An empty list
// when there is no database; nothing when it exists but cannot be read.
std::optional<QList<CookieId>> ReadCookieDatabase(const QString& databasePath);

// The cookies a running profile holds right now, including those not yet
// written to its database and session cookies. Lives as long as the profile.
class LiveCookies : public QObject {
    Q_OBJECT

public:
    // The one collector of profile, created on first use.
    static LiveCookies* of(QWebEngineProfile* profile);

    QList<CookieId> cookies() const { return cookies_; }

private:
    explicit LiveCookies(QWebEngineProfile* profile);
    void add(const QNetworkCookie& cookie);
    void remove(const QNetworkCookie& cookie);

    QList<CookieId> cookies_;
};
