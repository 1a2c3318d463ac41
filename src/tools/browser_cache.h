#pragma once

#include "tools/cache_folders.h"
#include "tools/cache_rows.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <functional>

class QAbstractItemModel;
class QWebEngineProfile;

// Where a browser profile keeps its data: cookies and the like in storage, the
// HTTP cache below cache.
struct ProfileFolders {
    QString storage;
    QString cache;
};

// The folders of the program's own browser profile (as CreateBrowserProfile sets them).
ProfileFolders ProgramProfileFolders();
// A profile that keeps everything in one folder.
ProfileFolders SingleFolderProfile(const QString& folder);
// The folders a profile object uses.
ProfileFolders FoldersOf(const QWebEngineProfile* profile);

namespace CacheTexts {
inline const QString MyCacheTag = QStringLiteral("我的缓存");
inline const QString AllCachesTag = QStringLiteral("所有缓存");
inline const QString UserPrefix = QStringLiteral("用户:");
inline const QString VisitedPrefix = QStringLiteral("Visited:");
inline const QString Finished = QStringLiteral("IE缓存清空完毕！");
inline const QString PagesBusy =
    QStringLiteral("有网页正在加载，浏览器缓存文件未能全部删除，请稍后再试。");
QString Status(int rows, bool failed);
} // namespace CacheTexts

// What the cache viewer lists and deletes: the profile's HTTP cache entries, its
// cookies and the visited addresses the program keeps; or every file in the
// cache folders of all users' homes. Nothing outside the listed cache folders is
// ever changed: links are listed and removed as links, never followed.
class BrowserCacheViewer : public QObject {
    Q_OBJECT

public:
    explicit BrowserCacheViewer(ProfileFolders mine, QObject* parent = nullptr);

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
    void GetCacheURLList();
    // "查看所有用户缓存"
    void ListAllUsers();

    // "删除所选文件" (0-based rows) and "全部删除": delete, remove empty folders,
    // list again. False when files of the running browser's cache were left
    // because pages kept loading.
    QCoro::Task<bool> DeleteRows(QList<int> rows);
    QCoro::Task<bool> DeleteAll();
    bool deleting() const { return deleting_; }

    // Removes every listed folder that is empty, deepest first.
    void RemoveEmptyFolders();

    // The files of the given rows that may be handed to the copy tool, in row
    // order: links are left out (their targets lie outside the cache).
    QStringList CopyableFiles(QList<int> rows) const;

signals:
    // A listing or a deletion changed the lists.
    void changed();
    void deletingChanged(bool deleting);

private:
    QCoro::Task<bool> deleteRows(QList<CacheRow> rows, bool wholeListing);
    QCoro::Task<bool> waitForIdlePages();
    bool inLiveCache(const QString& path) const;
    void removeVisited(const QString& address);
    void relist();
    void setDeleting(bool on);

    ProfileFolders mine_;
    QPointer<QWebEngineProfile> profile_;
    QPointer<QAbstractItemModel> visited_;
    bool deleting_ = false;
};
