#include "app/browser_profile.h"

#include "tools/cookie_source.h"
#include "tools/paths.h"

#include <QDir>
#include <QStandardPaths>
#include <QWebEngineProfile>

QWebEngineProfile* CreateBrowserProfile(QObject* parent) {
    auto* profile = new QWebEngineProfile(QStringLiteral("Quillmarsh"), parent);
    profile->setPersistentStoragePath(DataFolder() + QStringLiteral("/browser"));
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    profile->setCachePath(QDir(cache).filePath(QStringLiteral("browser")));
    profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
    profile->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    // The engine reports a cookie only as it is set: collect from the start.
    LiveCookies::of(profile);
    return profile;
}
