#pragma once

#include "tools/widget_prompter.h"

#include "search/record_list.h"
#include "search/search_flags.h"

#include <QMainWindow>
#include <QPointer>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>

struct AppContext;
class AnalysisRun;
class BrowserPage;
class BrowserView;
class Prompter;
class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QSplitter;
class QStatusBar;
class QTableView;
class Harvester;
class PdfLinkResolver;
class fFileDownload;

// The search window: the database site above, the record list below.
class fWebSearch : public QMainWindow {
    Q_OBJECT

public:
    // startWindow comes back when this window closes; prompter asks the user
    // (the window's own dialogs when null).
    fWebSearch(AppContext& context, QWidget* startWindow, Prompter* prompter);
    ~fWebSearch() override;

    // The open search window, created (with the start window to come back to) when there is none.
    static fWebSearch* Show(AppContext& context);

private:
    // The window's own list when the program keeps none for it.
    std::unique_ptr<RecordListModel> ownRecords_;

public:
    SearchFlags flags;
    // The program's record list (kept across runs), or the window's own.
    RecordListModel& records;

    QWidget* PicPanWeb;
    BrowserView* WebBrowser1;
    QSplitter* PicBar;
    QWidget* PicPanList;
    QComboBox* Combo1;
    QPushButton* Command1; // "清空"
    QCheckBox* Check2;     // "禁止浏览器弹出脚本提示"
    QCheckBox* Check1;     // "只提取网页勾选项"
    QPushButton* Command9; // "加入本页到列表"
    QPushButton* Command4; // "加入全部到列表"
    QPushButton* Command2; // "开始分析"
    QPushButton* Command3; // "停止分析"
    QPushButton* Command7; // "导出数据..."
    QLabel* Label1;        // row count
    QTableView* ListView1;
    QFrame* PicPanPrograss;
    QLabel* Label11;
    QPushButton* Command5; // "停止"
    QStatusBar* StatusBar1;
    QLabel* StatusPanel1;
    QLabel* StatusPanel2; // the browser's status text
    BrowserPage* Web2;    // hidden browser for the analysis

    QMenu* menuAdd;   // "加入", only as a pop-up
    QMenu* menuClear; // "清除(&C)", also the list's right-click menu

    // Some entry of Combo1 equals address, both lower-cased.
    bool 查找Combo1(const QString& address) const;
    // "打开EI首页"
    void OpenHomePage();
    // "打开指定网址..."
    void OpenTypedAddress();

    // "加入本页到列表"
    QCoro::Task<void> AddThisPage();
    // "加入全部到列表" / "停止加入全部"
    QCoro::Task<void> AddAllPages();
    // The clean-up commands of "清除(&C)".
    void ClearSelected();
    void ClearSucceeded();
    void ClearTitles(bool containing);
    void ClearAll();
    // "导出数据..."
    void ExportRecords();

    // "开始分析": the "加入" menu picks the run, or "分析全部" without a current row.
    void StartAnalysis();
    // Brings the download window up (created when missing), maximised when it was minimised.
    void 显示下载窗口();

    Harvester* harvester() const { return harvester_; }
    AnalysisRun* analysis() const { return analysis_; }
    // Shows the download folder chooser; replaceable for tests.
    std::function<void()> chooseFolder;

    Prompter& prompter() { return *prompter_; }
    AppContext& context() { return context_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    QAction* addMenuItem(QMenu* menu, const QString& caption);
    void connectBrowsers();
    void load();
    void recordVisitedAddress();
    void applyLayoutRules();
    void centreProgressPanel();
    void showAbout();
    // Folder for harvested records; asks with the chooser first when showChooser.
    QString harvestFolder(bool showChooser);
    // False (with the message) while an analysis runs.
    bool mayClearRecords();
    void setAddAllRunning(bool running);
    void connectAnalysis();
    void showAnalysisRunning(bool running);
    // Where found PDFs go: the open download window, or a new one not shown yet.
    fFileDownload* downloadWindow();

    AppContext& context_;
    QPointer<QWidget> startWindow_;
    WindowPrompter prompter_;
    Harvester* harvester_;
    PdfLinkResolver* resolver_;
    AnalysisRun* analysis_;
};
