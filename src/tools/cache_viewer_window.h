#pragma once

#include "tools/browser_cache.h"
#include "tools/widget_prompter.h"

#include <QDialog>

#include <qcoro/qcorotask.h>

struct AppContext;
class QLabel;
class QPushButton;
class QStandardItemModel;
class QTableView;

// "IE浏览器Cookie 缓存和历史列表": lists the browser's cache, cookies and
// visited addresses, or the cache folders of all users, and deletes them.
class fIEcache : public QDialog {
    Q_OBJECT

public:
    fIEcache(AppContext& context, Prompter* prompter, QWidget* parent = nullptr);
    ~fIEcache() override;

    BrowserCacheViewer viewer;

    QTableView* ListView1; // files
    QTableView* ListView2; // users
    QTableView* ListView3; // folders
    QLabel* Label1;        // status
    QPushButton* Command1; // "查看我的缓存"
    QPushButton* Command2; // "查看所有用户缓存"
    QPushButton* Command3; // "删除所选文件"
    QPushButton* Command4; // "全部删除"
    QPushButton* Command5; // "复制选中..."
    QPushButton* Command6; // "关闭"

    QCoro::Task<void> ListMine();
    QCoro::Task<void> ListAllUsers();
    QCoro::Task<void> DeleteSelected();
    QCoro::Task<void> DeleteAll();
    // "复制选中...": the selected rows' files into the copy tool.
    QCoro::Task<void> CopySelected();

private:
    QList<int> selectedRows() const;
    void showLists();
    void showActivity(BrowserCacheViewer::Activity activity);
    QCoro::Task<void> afterDeletion(QCoro::Task<DeletionResult> deletion);

    AppContext& context_;
    WindowPrompter prompter_;
    QStandardItemModel* users_;
    QStandardItemModel* folders_;
};

// A browser page of the program is loading.
bool AnyBrowserPageLoading();

// The addresses the search window keeps as visited, when it is open.
QAbstractItemModel* VisitedAddressList();

// "查看IE浏览器缓存": the cache viewer, modal.
void ShowBrowserCacheViewer(AppContext& context, Prompter* prompter, QWidget* parent);

// "清空IE浏览器缓存": lists and deletes the own cache, then all users' cache
// folders, without showing any window; then "IE缓存清空完毕！" through prompter
// when owner is still open.
QCoro::Task<void> ClearBrowserCache(AppContext& context, Prompter* prompter, QWidget* owner);
