#include "tools/browser_cache.h"

#include "tools/confined_files.h"
#include "tools/cookie_source.h"
#include "tools/paths.h"
#include "tools/time_limits.h"
#include "tools/worker.h"

#include <QAbstractItemModel>
#include <QDeadlineTimer>
#include <QDir>
#include <QSet>
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

// A row across two listings.
QString RowKey(const CacheRow& row) {
    return row.text + u'\n' + row.filePath;
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

QString CacheTexts::LeftOver(int rows) {
    return QStringLiteral("，其中 %1 个未能删除").arg(rows);
}

QString CacheTexts::NotAllCleared(int rows) {
    return QStringLiteral("浏览器缓存中有 %1 个文件未能删除。").arg(rows);
}

BrowserCacheViewer::BrowserCacheViewer(ProfileFolders mine, QObject* parent)
    : QObject(parent)
    , mine_(std::move(mine)) {}

BrowserCacheViewer::~BrowserCacheViewer() {
    abandon_->store(true);
}

void BrowserCacheViewer::setProfile(QWebEngineProfile* profile) {
    profile_ = profile;
}

QCoro::Task<void> BrowserCacheViewer::GetCacheURLList() {
    if (busy())
        co_return;
    QPointer<BrowserCacheViewer> self(this);
    setActivity(Activity::Listing);
    co_await listMine();
    if (self)
        setActivity(Activity::Idle);
}

QCoro::Task<void> BrowserCacheViewer::ListAllUsers() {
    if (busy())
        co_return;
    QPointer<BrowserCacheViewer> self(this);
    setActivity(Activity::Listing);
    co_await listAll();
    if (self)
        setActivity(Activity::Idle);
}

QCoro::Task<void> BrowserCacheViewer::listMine() {
    QPointer<BrowserCacheViewer> self(this);
    auto read = [mine = mine_] { return ListOwnCache(mine); };
    QCoro::Task<OwnCacheListing> reading = RunOnWorker(std::move(read));
    const OwnCacheListing listing = co_await std::move(reading);
    if (!self)
        co_return;

    QList<CacheRow> rows = listing.entries;
    QList<CookieId> cookies = listing.cookies;
    if (profile_ && SameFolder(FoldersOf(profile_).storage, mine_.storage)) {
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
    status = CacheTexts::Status(files.rowCount(), listing.failed);
    tag = CacheTexts::MyCacheTag;
    emit changed();
}

QCoro::Task<void> BrowserCacheViewer::listAll() {
    QPointer<BrowserCacheViewer> self(this);
    auto read = [root = HomesRoot(), abandon = abandon_] {
        return ListAllUserCaches(root, abandon.get());
    };
    QCoro::Task<AllUsersListing> reading = RunOnWorker(std::move(read));
    AllUsersListing listing = co_await std::move(reading);
    if (!self)
        co_return;
    profiles = listing.homes;
    users = listing.users;
    folders = listing.folders;
    files.setRows(std::move(listing.rows));
    status = CacheTexts::Status(files.rowCount(), false);
    tag = CacheTexts::AllCachesTag;
    emit changed();
}

QCoro::Task<void> BrowserCacheViewer::relist() {
    if (tag == CacheTexts::MyCacheTag)
        co_await listMine();
    else if (tag == CacheTexts::AllCachesTag)
        co_await listAll();
}

QList<CacheRow> BrowserCacheViewer::rowsAt(QList<int> rows) const {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QList<CacheRow> chosen;
    for (int r : std::as_const(rows)) {
        if (r >= 0 && r < files.rowCount())
            chosen.append(files.rows().at(r));
    }
    return chosen;
}

QCoro::Task<DeletionResult> BrowserCacheViewer::DeleteRows(QList<int> rows) {
    return deleteRows(rowsAt(std::move(rows)), false);
}

QCoro::Task<DeletionResult> BrowserCacheViewer::DeleteAll() {
    return deleteRows(files.rows(), true);
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

QCoro::Task<DeletionResult> BrowserCacheViewer::deleteRows(QList<CacheRow> rows,
                                                           bool wholeListing) {
    DeletionResult result;
    // One command at a time; a request meanwhile finds nothing to do.
    if (busy())
        co_return result;
    setActivity(Activity::Deleting);
    QPointer<BrowserCacheViewer> self(this);
    const QString liveCache = profile_ ? profile_->cachePath() : QString();

    auto findLive = [rows, liveCache] { return AnyMeantForDeletionIn(rows, liveCache); };
    QCoro::Task<bool> finding = RunOnWorker(std::move(findLive));
    const bool touchesLiveCache = co_await std::move(finding);
    if (!self)
        co_return result;
    if (touchesLiveCache) {
        result.pagesIdle = co_await waitForIdlePages();
        if (!self)
            co_return result;
    }

    // The engine's own way for a whole listing of its cache; per entry it has none.
    if (wholeListing && tag == CacheTexts::MyCacheTag && profile_ &&
        SameFolder(profile_->cachePath(), mine_.cache)) {
        profile_->clearHttpCache();
        profile_->clearAllVisitedLinks();
    }
    QSet<QString> meant;
    for (const CacheRow& row : std::as_const(rows)) {
        if (!MeantForDeletion(row))
            continue;
        meant.insert(RowKey(row));
        if (row.kind == CacheRowKind::Visited)
            removeVisited(row.text.mid(CacheTexts::VisitedPrefix.size()));
    }

    DiskDeletion disk{rows, users, folders, liveCache, result.pagesIdle};
    auto remove = [disk = std::move(disk), abandon = abandon_] {
        DeleteOnDisk(disk, abandon.get());
    };
    QCoro::Task<void> removing = RunOnWorker(std::move(remove));
    co_await std::move(removing);
    if (!self)
        co_return result;

    co_await relist();
    if (!self)
        co_return result;
    for (const CacheRow& row : files.rows()) {
        if (meant.contains(RowKey(row)))
            result.left.append(row.filePath.isEmpty() ? row.text : row.filePath);
    }
    if (!result.left.isEmpty()) {
        status += CacheTexts::LeftOver(int(result.left.size()));
        emit changed();
    }
    setActivity(Activity::Idle);
    co_return result;
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

QCoro::Task<CopySources> BrowserCacheViewer::CopySourcesOf(QList<int> rows, QString stagingFolder) {
    if (busy())
        co_return CopySources{};
    setActivity(Activity::Copying);
    QPointer<BrowserCacheViewer> self(this);
    auto stage = [chosen = rowsAt(std::move(rows)), stagingFolder] {
        return StageCopySources(chosen, stagingFolder);
    };
    QCoro::Task<CopySources> staging = RunOnWorker(std::move(stage));
    CopySources sources = co_await std::move(staging);
    if (self)
        setActivity(Activity::Idle);
    co_return sources;
}

void BrowserCacheViewer::setActivity(Activity activity) {
    if (activity_ == activity)
        return;
    activity_ = activity;
    emit activityChanged(activity);
}
