#include "tools/cookie_source.h"

#include "tools/file_helpers.h"

#include <QDir>
#include <QNetworkCookie>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

#include <atomic>

QString CookieId::rowText() const {
    return QStringLiteral("Cookie:") + name + u'@' + host + path;
}

QString CookieDatabasePath(const QString& storageFolder) {
    return QDir(storageFolder).filePath(QStringLiteral("Cookies"));
}

std::optional<QList<CookieId>> ReadCookieDatabase(const QString& databasePath) {
    if (!AnythingExists(databasePath))
        return QList<CookieId>();
    static std::atomic<int> serial{0};
    const QString connection = QStringLiteral("cookies-%1").arg(++serial);
    std::optional<QList<CookieId>> result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(databasePath);
        // The engine may hold the file open: read only, wait a moment for its lock.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral(
                    "SELECT name, host_key, path FROM cookies ORDER BY host_key, name, path"))) {
                QList<CookieId> cookies;
                while (query.next())
                    cookies.append({query.value(0).toString(), query.value(1).toString(),
                                    query.value(2).toString()});
                if (query.lastError().type() == QSqlError::NoError)
                    result = cookies;
            }
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return result;
}

LiveCookies* LiveCookies::of(QWebEngineProfile* profile) {
    if (!profile)
        return nullptr;
    if (auto* existing = profile->findChild<LiveCookies*>(QString(), Qt::FindDirectChildrenOnly))
        return existing;
    return new LiveCookies(profile);
}

LiveCookies::LiveCookies(QWebEngineProfile* profile)
    : QObject(profile) {
    QWebEngineCookieStore* store = profile->cookieStore();
    connect(store, &QWebEngineCookieStore::cookieAdded, this, &LiveCookies::add);
    connect(store, &QWebEngineCookieStore::cookieRemoved, this, &LiveCookies::remove);
    store->loadAllCookies();
}

namespace {
CookieId IdOf(const QNetworkCookie& cookie) {
    return {QString::fromUtf8(cookie.name()), cookie.domain(), cookie.path()};
}
} // namespace

void LiveCookies::add(const QNetworkCookie& cookie) {
    const CookieId id = IdOf(cookie);
    if (!cookies_.contains(id))
        cookies_.append(id);
}

void LiveCookies::remove(const QNetworkCookie& cookie) {
    cookies_.removeAll(IdOf(cookie));
}
