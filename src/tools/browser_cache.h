#pragma once

#include "tools/cache_listing.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <atomic>
#include <functional>
#include <memory>

class QAbstractItemModel;
class QWebEngineProfile;

// The folders of the program's own browser profile (as CreateBrowserProfile sets them).
ProfileFolders ProgramProfileFolders();
// A profile that keeps everything in one folder.
ProfileFolders SingleFolderProfile(const QString& folder);
// The folders a profile object uses.
ProfileFolders FoldersOf(const QWebEngineProfile* profile);

namespace CacheTexts {
inline const QString MyCacheTag = QStringLiteral("我的缓存");
inline const QString AllCachesTag = QStringLiteral("所有缓存");
inline const QString VisitedPrefix = QStringLiteral("Visited:");
inline const QString Finished = QStringLiteral("IE缓存清空完毕！");
inline const QString PagesBusy =
    QStringLiteral("有网页正在加载，浏览器缓存文件未能全部删除，请稍后再试。");
QString Status(int rows, bool failed);
// Added to the status line after a deletion that left rows meant to go.
QString LeftOver(int rows);
// The message of a clearing that left files.
QString NotAllCleared(int rows);
} // namespace CacheTexts

// How a deletion went.
struct DeletionResult {
    bool pagesIdle = true; // files of the running browser's cache could be deleted
    QStringList left;      // rows meant to go that the listing afterwards still shows
    bool complete() const { return pagesIdle && left.isEmpty(); }
};

// What the cache viewer lists and deletes: the profile's HTTP cache entries, its
// cookies and the visited addresses the program keeps; or every file in the
// cache folders of all users' homes. Nothing outside the listed cache folders is
// ever changed: links are listed and removed as links, never followed. The
// disk work runs on a worker thread; one command at a time.
class BrowserCacheViewer : public QObject {
    Q_OBJECT

public:
    enum class Activity { Idle, Listing, Deleting, Copying };

    explicit BrowserCacheViewer(ProfileFolders mine, QObject* parent = nullptr);
    ~BrowserCacheViewer() override;

    // The running profile behind mine, when there is one: its live cookies are
    // listed, and deleting the whole listing clears its cache through the engine.
    void setProfile(QWebEngineProfile* profile);
    // Addresses the program keeps as visited: the first column of each row.
    void setVisitedAddresses(QAbstractItemModel* model) { visited_ = model; }
    // True while a browser page loads; files of the running profile's cache are
    // deleted only while it is false.
    std::function<bool()> pagesLoading;

    CacheRowModel files;
    QList<UserCacheFolder> users; // the user list
    QStringList profiles;         // home folders found by the last all-users listing
    QStringList folders;          // every subfolder of the listed cache folders
    QString tag;                  // which listing the file list shows
    QString status = QStringLiteral("000");

    // "查看我的缓存"
    QCoro::Task<void> GetCacheURLList();
    // "查看所有用户缓存"
    QCoro::Task<void> ListAllUsers();

    // "删除所选文件" (0-based rows) and "全部删除": delete, remove empty folders,
    // list again.
    QCoro::Task<DeletionResult> DeleteRows(QList<int> rows);
    QCoro::Task<DeletionResult> DeleteAll();

    // "复制选中...": what the copy tool gets for the given rows, in row order;
    // contents of the browser's own entries are written below stagingFolder.
    QCoro::Task<CopySources> CopySourcesOf(QList<int> rows, QString stagingFolder);

    Activity activity() const { return activity_; }
    bool busy() const { return activity_ != Activity::Idle; }

signals:
    // A listing or a deletion changed the lists.
    void changed();
    void activityChanged(BrowserCacheViewer::Activity activity);

private:
    QCoro::Task<void> listMine();
    QCoro::Task<void> listAll();
    QCoro::Task<void> relist();
    QCoro::Task<DeletionResult> deleteRows(QList<CacheRow> rows, bool wholeListing);
    QCoro::Task<bool> waitForIdlePages();
    QList<CacheRow> rowsAt(QList<int> rows) const;
    void removeVisited(const QString& address);
    void setActivity(Activity activity);

    ProfileFolders mine_;
    QPointer<QWebEngineProfile> profile_;
    QPointer<QAbstractItemModel> visited_;
    Activity activity_ = Activity::Idle;
    // Set when the viewer goes: its worker stops early.
    std::shared_ptr<std::atomic<bool>> abandon_ = std::make_shared<std::atomic<bool>>(false);
};
