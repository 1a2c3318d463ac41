#pragma once

#include "tools/widget_prompter.h"

#include "download/download_activity.h"
#include "download/scheduler.h"
#include "download/task_list.h"

#include <QMainWindow>

#include <memory>

struct AppContext;
class BrowserView;
class DownloadSession;
class Prompter;
class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QStatusBar;
class QTableView;
class QTimer;

// The download manager's window: options panel, task list, login browser pane.
class fFileDownload : public QMainWindow {
    Q_OBJECT

    // First, so the engine below can be handed the prompter.
    WindowPrompter prompter_;
    // The window's own list when the program keeps none for it.
    std::unique_ptr<TaskListModel> ownTasks_;

public:
    fFileDownload(AppContext& context, Prompter* prompter);
    ~fFileDownload() override;

    // The open download window, or nullptr.
    static fFileDownload* Find();
    // The open download window, created first when there is none; shown.
    static fFileDownload* Show(AppContext& context);

    // The program's task list (kept across runs), or the window's own.
    TaskListModel& tasks;
    DownloadSession* session;
    DownloadScheduler* scheduler;
    // What the engine is doing (the scheduler keeps it).
    DownloadActivity& activity;

    QFrame* Picture3;
    QLabel* Label7;         // "下载方式：n"
    QPushButton* Command26; // "切换"
    QComboBox* Combo1;      // threads "1".."6"
    QRadioButton* Option1;  // "跳过"
    QRadioButton* Option2;  // "覆盖"
    QRadioButton* Option3;  // "重命名"
    QComboBox* Combo2;      // interval 0..600 s
    QCheckBox* Check3;      // automatic re-download
    QComboBox* Combo4;
    QCheckBox* Check4;      // automatic start
    QCheckBox* Check5;      // stop after five problems
    QCheckBox* Check6;      // sounds
    QPushButton* Command4;  // "开始下载"
    QPushButton* Command31; // "停止下载"
    QPushButton* Command1;  // "网页登录"
    QLabel* Label1;         // "n条"
    QLabel* RunningIndicator;
    QStackedWidget* listArea;
    QTableView* ListView3;
    QWidget* PicWebBK;
    BrowserView* Web1;
    QStatusBar* StatusBar1;
    QLabel* Panel[4];
    bool WebPageLoading = false; // the login pane's browser is loading a page
    QTimer* Timer_Down;          // scheduler tick (the scheduler's)
    QTimer* Timer1;              // supervisor (the scheduler's)

    QMenu* menu下载;
    QAction* action(const QString& objectName) const;

    // The duplicate-name policy as the options show it.
    QString SelectedPolicy() const;
    // Shows the method and enables the thread list for method 2 (text "1").
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
    void CancelSelected();
    void OpenFile();
    void OpenFolder();
    void OpenInEditor();
    void CopyName();
    void ReplaceUrls();
    void ExportNames(bool unfinishedOnly);
    // Tools menu
    void CheckFiles();
    void CorrectFileTypes();
    void DetectChosenFile();

    // Header click.
    void SortBy(int column);
    Qt::SortOrder sortOrder() const { return sortOrder_; }
    // Row clicks (0-based model rows).
    void RowClicked(int row0);
    void RowDoubleClicked(int row0);
    // Enables the right-click menu's items for the run state.
    void PrepareContextMenu();

    QList<int> selectedRows() const; // 1-based, ascending
    int currentRow() const;          // 1-based, 0 when none

    Prompter& prompter() { return *prompter_; }

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildPanel();
    void buildList();
    void buildMenus();
    void connectScheduler();
    void load();
    QAction* addItem(QMenu* menu, const QString& caption, const QString& name);
    // False, with the message, while downloads run.
    bool mayChangeRows();
    void showCount();

    AppContext& context_;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};
