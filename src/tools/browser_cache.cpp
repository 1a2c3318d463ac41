#include "tools/browser_cache.h"

#include "tools/cache_entry.h"
#include "tools/confined_files.h"
#include "tools/cookie_source.h"
#include "tools/file_helpers.h"
#include "tools/paths.h"
#include "tools/time_limits.h"

#include <QAbstractItemModel>
#include <QDeadlineTimer>
#include <QDir>
#include <QStandardPaths>
#include <QUrl>
#include <QWebEngineProfile>

#include <qcoro/qcorotimer.h>

namespace {

// How often a deletion looks whether the pages have finished loading.
constexpr std::chrono::milliseconds IdlePoll{100};

QString ProfileSubfolder(const QString& base) {
    return QDir(base).filePath(QStringLiteral("browser"));
}

} // namespace

ProfileFolders ProgramProfileFolders() {
    return {ProfileSubfolder(DataFolder()),
            ProfileSubfolder(QStandardPaths::writableLocation(QStandardPaths::CacheLocation))};
}

ProfileFolders SingleFolderProfile(const QString& folder) {
    const QString path = QDir(folder).absolutePath();
    return {path, path};
}

ProfileFolders FoldersOf(const QWebEngineProfile* profile) {
    if (!profile)
        return ProgramProfileFolders();
    return {profile->persistentStoragePath(), profile->cachePath()};
}

QString CacheTexts::Status(int rows, bool failed) {
    return (failed ? QStringLiteral("出错!!!共有") : QStringLiteral("共有")) +
           QString::number(rows) + QStringLiteral(" 个文件");
}

BrowserCacheViewer::BrowserCacheViewer(ProfileFolders mine, QObject* parent)
    : QObject(parent)
    , mine_(std::move(mine)) {}

void BrowserCacheViewer::setProfile(QWebEngineProfile* profile) {
    profile_ = profile;
}

void BrowserCacheViewer::GetCacheURLList() {
    QList<CacheRow> rows;
    bool failed = false;

    const QString entryFolder = CacheEntryFolder(mine_.cache);
    if (AnythingExists(entryFolder)) {
        const QDir dir(entryFolder);
        if (!dir.isReadable())
            failed = true;
        const QStringList names =
            dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
        for (const QString& name : names) {
            if (!IsCacheEntryFileName(name))
                continue;
            const QString path = dir.filePath(name);
            CacheRow row;
            row.kind = CacheRowKind::CacheEntry;
            if (const std::optional<QByteArray> key = ReadCacheEntryKey(path)) {
                row.text = UrlFromCacheKey(*key);
                row.type = AddressType(row.text);
                row.filePath = path;
                row.size = StatEntry(path).size;
                row.anchor = mine_.cache;
                row.root = entryFolder;
            }
            rows.append(row);
        }
    }

    QList<CookieId> cookies;
    if (const std::optional<QList<CookieId>> stored =
            ReadCookieDatabase(CookieDatabasePath(mine_.storage)))
        cookies = *stored;
    else
        failed = true;
    if (profile_ && FoldersOf(profile_).storage == mine_.storage) {
        for (const CookieId& cookie : LiveCookies::of(profile_)->cookies()) {
            if (!cookies.contains(cookie))
                cookies.append(cookie);
        }
    }
    for (const CookieId& cookie : std::as_const(cookies)) {
        CacheRow row;
        row.kind = CacheRowKind::Cookie;
        row.text = cookie.rowText();
        row.type = AddressType(row.text);
        rows.append(row);
    }

    if (visited_) {
        for (int r = 0; r < visited_->rowCount(); ++r) {
            const QString address = visited_->index(r, 0).data().toString();
            if (address.isEmpty())
                continue;
            CacheRow row;
            row.kind = CacheRowKind::Visited;
            row.text = CacheTexts::VisitedPrefix + address;
            row.type = AddressType(address);
            rows.append(row);
        }
    }

    files.setRows(std::move(rows));
    status = CacheTexts::Status(files.rowCount(), failed);
    tag = CacheTexts::MyCacheTag;
    emit changed();
}

void BrowserCacheViewer::ListAllUsers() {
    files.clear();
    profiles = UserHomeFolders();
    users = FindUserCacheFolders(profiles);
    folders.clear();
    for (const UserCacheFolder& user : std::as_const(users))
        folders += WalkFolders(user.folder, true);

    QList<CacheRow> rows;
    for (const UserCacheFolder& user : std::as_const(users)) {
        for (const QString& path : WalkFiles(user.folder, true)) {
            const EntryStat entry = StatEntry(path);
            CacheRow row;
            row.kind = CacheRowKind::FolderFile;
            row.text = CacheTexts::UserPrefix + user.user;
            row.type = AddressType(path);
            row.size = entry.size;
            row.filePath = path;
            row.isLink = entry.isLink;
            row.anchor = user.home;
            row.root = user.folder;
            rows.append(row);
        }
    }
    files.setRows(std::move(rows));
    status = CacheTexts::Status(files.rowCount(), false);
    tag = CacheTexts::AllCachesTag;
    emit changed();
}

QCoro::Task<bool> BrowserCacheViewer::DeleteRows(QList<int> rows) {
    QList<CacheRow> chosen;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int r : std::as_const(rows)) {
        if (r >= 0 && r < files.rowCount())
            chosen.append(files.rows().at(r));
    }
    return deleteRows(std::move(chosen), false);
}

QCoro::Task<bool> BrowserCacheViewer::DeleteAll() {
    return deleteRows(files.rows(), true);
}

bool BrowserCacheViewer::inLiveCache(const QString& path) const {
    return profile_ && IsBelowFolder(profile_->cachePath(), path);
}

QCoro::Task<bool> BrowserCacheViewer::waitForIdlePages() {
    if (!pagesLoading)
        co_return true;
    QPointer<BrowserCacheViewer> self(this);
    const QDeadlineTimer deadline(TimeLimits::Scaled(TimeLimits::CachePagesIdle));
    while (self && pagesLoading() && !deadline.hasExpired())
        co_await QCoro::sleepFor(IdlePoll);
    co_return self && !pagesLoading();
}

QCoro::Task<bool> BrowserCacheViewer::deleteRows(QList<CacheRow> rows, bool wholeListing) {
    // One deletion at a time; a second request finds nothing left to do.
    if (deleting_)
        co_return true;
    setDeleting(true);
    QPointer<BrowserCacheViewer> self(this);

    const bool touchesLiveCache = std::any_of(rows.begin(), rows.end(), [this](const CacheRow& r) {
        return !r.filePath.isEmpty() && inLiveCache(r.filePath);
    });
    bool liveFilesAllowed = true;
    if (touchesLiveCache)
        liveFilesAllowed = co_await waitForIdlePages();
    if (!self)
        co_return false;

    auto removeFile = [&](const CacheRow& row, const QString& path) {
        if (inLiveCache(path) && !liveFilesAllowed)
            return;
        RemoveConfined(row.anchor, row.root, path, false);
    };

    // The engine's own way for a whole listing of its cache; per entry it has none.
    if (wholeListing && tag == CacheTexts::MyCacheTag && profile_ &&
        FoldersOf(profile_).cache == mine_.cache) {
        profile_->clearHttpCache();
        profile_->clearAllVisitedLinks();
    }

    for (const CacheRow& row : std::as_const(rows)) {
        if (row.kind == CacheRowKind::FolderFile) {
            // Text files stay: they hold cookies.
            if (!row.filePath.isEmpty() && row.type.compare(u"txt", Qt::CaseInsensitive) != 0)
                removeFile(row, row.filePath);
            continue;
        }
        if (row.text.isEmpty() || row.text.contains(u"cookie", Qt::CaseInsensitive) ||
            row.kind == CacheRowKind::Cookie)
            continue;
        if (row.kind == CacheRowKind::Visited) {
            removeVisited(row.text.mid(CacheTexts::VisitedPrefix.size()));
            continue;
        }
        if (row.filePath.isEmpty())
            continue;
        removeFile(row, row.filePath);
        const QString folder = row.filePath.left(row.filePath.lastIndexOf(u'/') + 1);
        const QString name = row.filePath.mid(folder.size());
        for (const QString& companion : CacheEntryCompanionNames(name))
            removeFile(row, folder + companion);
    }

    RemoveEmptyFolders();
    relist();
    setDeleting(false);
    co_return liveFilesAllowed;
}

void BrowserCacheViewer::removeVisited(const QString& address) {
    if (visited_) {
        for (int r = visited_->rowCount() - 1; r >= 0; --r) {
            if (visited_->index(r, 0).data().toString() == address)
                visited_->removeRow(r);
        }
    }
    if (profile_)
        profile_->clearVisitedLinks({QUrl(address)});
}

void BrowserCacheViewer::RemoveEmptyFolders() {
    for (qsizetype i = folders.size() - 1; i >= 0; --i) {
        const QString& folder = folders.at(i);
        if (folder.isEmpty())
            continue;
        for (const UserCacheFolder& user : std::as_const(users)) {
            if (IsBelowFolder(user.folder, folder)) {
                // Only an empty folder goes; a failure is no concern here.
                RemoveConfined(user.home, user.folder, folder, true);
                break;
            }
        }
    }
}

QStringList BrowserCacheViewer::CopyableFiles(QList<int> rows) const {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QStringList paths;
    for (int r : std::as_const(rows)) {
        if (r < 0 || r >= files.rowCount())
            continue;
        const CacheRow& row = files.rows().at(r);
        if (!row.filePath.isEmpty() && !row.isLink)
            paths.append(row.filePath);
    }
    return paths;
}

void BrowserCacheViewer::relist() {
    if (tag == CacheTexts::MyCacheTag)
        GetCacheURLList();
    else if (tag == CacheTexts::AllCachesTag)
        ListAllUsers();
}

void BrowserCacheViewer::setDeleting(bool on) {
    if (deleting_ == on)
        return;
    deleting_ = on;
    emit deletingChanged(on);
}
