#pragma once

#include "tools/widget_prompter.h"

#include "download/download_activity.h"
#include "download/list_rules.h"
#include "download/scheduler.h"
#include "download/task_list.h"

#include <QMainWindow>

struct AppContext;
class DownloadOptionsPanel;
class DownloadSession;
class LoginPane;
class Prompter;
class QAction;
class QLabel;
class QMenu;
class QStackedWidget;
class QStatusBar;
class QTimer;
class TaskListView;

// The download manager's window: options panel, task list, login browser pane,
// status bar and menus. It wires these to the task list and the scheduler; the
// rules live in the core.
class fFileDownload : public QMainWindow {
    Q_OBJECT

    // First, so the engine below can be handed the prompter.
    WindowPrompter prompter_;
    // The window's own list when the program keeps none for it.
    std::unique_ptr<TaskListModel> ownTasks_;

public:
    fFileDownload(AppContext& context, Prompter* prompter);
    ~fFileDownload() override;

    // The open download window, or nullptr. A window being closed is none: what
    // is handed to it meanwhile would go with it.
    static fFileDownload* Find();
    // The open download window, created first when there is none; shown.
    static fFileDownload* Show(AppContext& context);

    // The program's task list (kept across runs), or the window's own.
    TaskListModel& tasks;
    DownloadSession* session;
    DownloadScheduler* scheduler;
    // What the engine is doing (the scheduler keeps it).
    DownloadActivity& activity;

    DownloadOptionsPanel* Picture3;
    QStackedWidget* listArea; // the task list, or the login pane in its place
    TaskListView* ListView3;
    LoginPane* PicWebBK;
    QStatusBar* StatusBar1;
    QLabel* Panel[4];
    QTimer* Timer_Down; // scheduler tick (the scheduler's)
    QTimer* Timer1;     // supervisor (the scheduler's)
    QMenu* menu下载;

    QAction* action(const QString& objectName) const;

    // Shows the method; the thread list is enabled for method 2 (text "1").
    void ShowMethod(int method);
    // "切换"
    void SwitchMethod();
    // Panel 4.
    void ShowTaskCounts();

    // The list commands of "列表操作(&D)".
    void SelectAll();
    void SelectNone();
    void Shuffle();
    void AutoColumnWidths();
    void RequeueSelectedRows();
    void RequeueFailed();
    void RequeueWebPages();
    void RequeueFailedAndWeb();
    void RequeueSmaller();
    void ClearSelectedRows();
    void ClearFailedRows();
    void ClearDoneRows();
    void ClearList();
    void DeleteWebPageFiles();
    void DeleteFailedFiles();
    void StartDownloads();
    void StopDownloads();
    void CancelSelected();
    void OpenFile();
    void OpenFolder();
    void OpenInEditor();
    void CopyName();
    void ReplaceUrls();
    void ExportAllNames();
    void ExportUnfinishedNames();
    void CloseWindow();
    // The other menus.
    void ShowSearchWindow();
    void OpenOptions();
    void CheckFiles();
    void CorrectFileTypes();
    void ClearCache();
    void DetectChosenFile();
    void ShowAbout();

    // "网页登录" and "关闭(隐藏)".
    void ShowLoginPane();
    void HideLoginPane();

    // Header click.
    void SortBy(int column);
    Qt::SortOrder sortOrder() const { return sortOrder_.current; }
    // Row clicks (0-based model rows).
    void RowClicked(int row0);
    void RowDoubleClicked(int row0);
    // A right click in the list: the list menu opens there, its items set for the run.
    void ShowContextMenu(const QPoint& at);
    // Status panel 2 clicked: a web address there opens in the web browser.
    void Panel2Clicked();

    Prompter& prompter() { return *prompter_; }

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildStatusBar();
    void connectPanel();
    void connectLoginPane();
    void connectScheduler();
    void load();
    void applyMenuStates();
    bool running() const;
    void showCount();

    AppContext& context_;
    HeaderSortOrder sortOrder_;
    bool contextMenuOpening_ = false;
    // From the start of a close (its question included) until it is refused.
    bool closing_ = false;
};
