#include "search/search_window.h"

#include "app/app_context.h"
#include "app/browser_view.h"
#include "app/certificate_guard.h"
#include "download/download_window.h"
#include "download/task_list_view.h"
#include "search/analysis_run.h"
#include "search/harvester.h"
#include "search/pdf_link_resolver.h"
#include "search/record_cleanup.h"
#include "search/record_export.h"
#include "settings/folder_chooser.h"
#include "settings/options_dialog.h"
#include "settings/shared_options.h"
#include "storage/list_store.h"
#include "tools/about_box.h"
#include "tools/cache_viewer_window.h"
#include "tools/file_helpers.h"
#include "tools/text_utils.h"
#include "tools/widget_prompter.h"
#include "tools/window_helpers.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>

#include <qcoro/qcorotask.h>

fWebSearch::fWebSearch(AppContext& context, QWidget* startWindow, Prompter* prompter)
    : ownRecords_(context.lists ? nullptr : std::make_unique<RecordListModel>())
    , records(context.lists ? context.lists->records() : *ownRecords_)
    , context_(context)
    , startWindow_(startWindow)
    , prompter_(prompter, this) {
    setObjectName(QStringLiteral("fWebSearch"));
    setAttribute(Qt::WA_DeleteOnClose);
    buildControls();
    harvester_ = new Harvester(WebBrowser1->browser(), flags, records, this);
    harvester_->setCheckedOnly([this] { return Check1->isChecked(); });
    chooseFolder = [this] {
        fSeleFileSavePath::Choose(context_.options, context_.store, prompter_.get(), this);
    };
    connectAnalysis();
    buildMenus();
    connectBrowsers();
    resize(1100, 760);
    load();
}

fWebSearch* fWebSearch::Show(AppContext& context) {
    fWebSearch* window = nullptr;
    QWidget* start = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* search = qobject_cast<fWebSearch*>(w))
            window = search;
        else if (w->objectName() == u"fCover")
            start = w;
    }
    if (!window)
        window = new fWebSearch(context, start, nullptr);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

fWebSearch::~fWebSearch() {
    // The run and the resolver go before the list and flags they work on, so a
    // wait that ends later finds them gone and touches nothing.
    delete analysis_;
    delete resolver_;
    // Pages go before the profile they belong to; make sure nothing waits on them.
    flags.setStopAddAll(true);
    flags.setStopAnalysis(true);
}

QAction* fWebSearch::addMenuItem(QMenu* menu, const QString& caption) {
    QAction* action = menu->addAction(caption);
    QString name = caption;
    name.remove(QStringLiteral("(&A)")).remove(u'&');
    action->setObjectName(QStringLiteral("menu") + name);
    return action;
}

void fWebSearch::buildMenus() {
    // Not in the menu bar: the list's pop-up for the analysis runs.
    menuAdd = new QMenu(QStringLiteral("加入"), this);
    menuAdd->setObjectName(QStringLiteral("menu加入"));
    const std::pair<const char16_t*, AnalysisVariant> runs[] = {
        {u"分析未分析项", AnalysisVariant::Unanalysed},
        {u"分析失败项", AnalysisVariant::Failed},
        {u"分析选中项", AnalysisVariant::Selected},
        {u"分析全部", AnalysisVariant::All}};
    for (const auto& [caption, variant] : runs) {
        connect(addMenuItem(menuAdd, QString::fromUtf16(caption)), &QAction::triggered, this,
                [this, variant] { analysis_->RunAnalysis(variant); });
    }

    QMenu* browse = menuBar()->addMenu(QStringLiteral("浏览(&B)"));
    browse->setObjectName(QStringLiteral("menu浏览"));
    connect(addMenuItem(browse, QStringLiteral("打开EI首页")), &QAction::triggered, this,
            &fWebSearch::OpenHomePage);
    connect(addMenuItem(browse, QStringLiteral("打开指定网址...")), &QAction::triggered, this,
            &fWebSearch::OpenTypedAddress);
    browse->addSeparator();
    connect(addMenuItem(browse, QStringLiteral("后退")), &QAction::triggered, this,
            [this] { WebBrowser1->browser()->GoBack(); });
    connect(addMenuItem(browse, QStringLiteral("前进")), &QAction::triggered, this,
            [this] { WebBrowser1->browser()->GoForward(); });
    browse->addSeparator();
    connect(addMenuItem(browse, QStringLiteral("关闭本窗口")), &QAction::triggered, this,
            &QWidget::close);

    menuClear = menuBar()->addMenu(QStringLiteral("清除(&C)"));
    menuClear->setObjectName(QStringLiteral("menu清除"));
    connect(addMenuItem(menuClear, QStringLiteral("清除选中项")), &QAction::triggered, this,
            &fWebSearch::ClearSelected);
    connect(addMenuItem(menuClear, QStringLiteral("清除分析成功项")), &QAction::triggered, this,
            &fWebSearch::ClearSucceeded);
    connect(addMenuItem(menuClear, QStringLiteral("清除标题含指定字符项")), &QAction::triggered,
            this, [this] { ClearTitles(true); });
    connect(addMenuItem(menuClear, QStringLiteral("清除标题不含指定字符项")), &QAction::triggered,
            this, [this] { ClearTitles(false); });
    connect(addMenuItem(menuClear, QStringLiteral("清空全部")), &QAction::triggered, this,
            &fWebSearch::ClearAll);

    QMenu* tools = menuBar()->addMenu(QStringLiteral("工具(&T)"));
    tools->setObjectName(QStringLiteral("menu工具"));
    connect(addMenuItem(tools, QStringLiteral("设置")), &QAction::triggered, this, [this] {
        fOption options(context_.options, context_.store, prompter_.get(), this);
        if (fFileDownload* downloads = fFileDownload::Find())
            connect(&options, &fOption::DownloadMethodChanged, downloads,
                    &fFileDownload::ShowMethod);
        options.exec();
    });
    connect(addMenuItem(tools, QStringLiteral("打开下载窗口")), &QAction::triggered, this,
            [this] { fFileDownload::Show(context_); });
    tools->addSeparator();
    connect(addMenuItem(tools, QStringLiteral("查看IE浏览器缓存")), &QAction::triggered, this,
            [this] { ShowBrowserCacheViewer(context_, prompter_.get(), this); });
    connect(addMenuItem(tools, QStringLiteral("清空IE浏览器缓存")), &QAction::triggered, this,
            [this] { ClearBrowserCache(context_, prompter_.get(), this); });

    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    help->setObjectName(QStringLiteral("menu帮助"));
    connect(addMenuItem(help, QStringLiteral("关于(&A)")), &QAction::triggered, this,
            &fWebSearch::showAbout);
}

void fWebSearch::connectBrowsers() {
    BrowserPage* page = WebBrowser1->browser();
    connect(page, &BrowserPage::StatusTextChange, StatusPanel2, &QLabel::setText);
    // Untrusted certificates: the visible pane asks unless silent, the hidden one refuses.
    for (BrowserPage* pane : {page, Web2})
        connect(new CertificateGuard(pane, prompter_.get()), &CertificateGuard::StatusText,
                StatusPanel2, &QLabel::setText);
    connect(page, &BrowserPage::TitleChange, this, [this](const QString& title) {
        if (title.toLower() != u"about:blank")
            recordVisitedAddress();
    });
    // Pages whose title does not change between visits are still recorded.
    connect(page, &BrowserPage::DocumentComplete, this, [this] {
        flags.setPageLoading(false);
        recordVisitedAddress();
    });

    connect(Web2, &BrowserPage::DocumentComplete, this,
            [this] { flags.setHiddenPageLoading(false); });

    connect(Check2, &QCheckBox::toggled, this,
            [this](bool on) { WebBrowser1->browser()->setSilent(on); });
    connect(Combo1, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        if (Combo1->count() > 0 && index >= 0)
            WebBrowser1->browser()->Navigate(Combo1->itemText(index));
    });
    connect(Command1, &QPushButton::clicked, Combo1, &QComboBox::clear);
    connect(Command9, &QPushButton::clicked, this, [this] { AddThisPage(); });
    connect(Command4, &QPushButton::clicked, this, [this] { AddAllPages(); });
    connect(Command7, &QPushButton::clicked, this, &fWebSearch::ExportRecords);
    connect(Command2, &QPushButton::clicked, this, &fWebSearch::StartAnalysis);
    for (QPushButton* stop : {Command3, Command5})
        connect(stop, &QPushButton::clicked, this, [this] { flags.setStopAnalysis(true); });
    connect(ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { menuClear->popup(ListView1->viewport()->mapToGlobal(at)); });
    connect(ListView1, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            WebBrowser1->browser()->Navigate(records.record(index.row() + 1).link);
    });
}

void fWebSearch::load() {
    setWindowTitle(WindowCaption(QStringLiteral("EI数据检索分析")));
    context_.options.loadForSearchWindow(context_.store);
    Check2->setChecked(true);
    WebBrowser1->browser()->setSilent(true);
    WebBrowser1->browser()->Navigate(QStringLiteral("about:blank"));
    Web2->setSilent(true);
    Web2->Navigate(QStringLiteral("about:blank"));
    OpenHomePage();
    flags.setStopAnalysis(true);
    Label1->setText(QString::number(records.count()));
}

bool fWebSearch::查找Combo1(const QString& address) const {
    const QString wanted = address.toLower();
    for (int i = 0; i < Combo1->count(); ++i) {
        if (Combo1->itemText(i).toLower() == wanted)
            return true;
    }
    return false;
}

void fWebSearch::recordVisitedAddress() {
    const QString address = TrimSpaces(WebBrowser1->browser()->url().toString());
    if (address.isEmpty() || address.toLower() == u"about:blank" || 查找Combo1(address))
        return;
    Combo1->addItem(address);
}

void fWebSearch::OpenHomePage() {
    Check2->setChecked(true);
    PicPanWeb->raise();
    WebBrowser1->browser()->Navigate(context_.homeUrl);
}

void fWebSearch::OpenTypedAddress() {
    const auto answer =
        prompter_->inputText(QStringLiteral("请输入需要打开的网址："), QStringLiteral("请输入..."));
    if (!answer)
        return;
    const QString address = TrimSpaces(*answer);
    Check2->setChecked(address.left(8).toLower() != u"https://");
    if (address.isEmpty())
        return;
    StatusBar1->setVisible(true);
    WebBrowser1->browser()->Navigate(address);
}

void fWebSearch::showAbout() {
    frmAbout about(this);
    about.exec();
}

void fWebSearch::closeEvent(QCloseEvent* event) {
    flags.setStopAddAll(true);
    flags.setStopAnalysis(true);
    event->accept();
    // Found PDFs may wait in a download window not shown yet; the run would
    // have shown it at its end.
    if (fFileDownload* downloads = fFileDownload::Find(); downloads && !downloads->isVisible())
        显示下载窗口();
    if (!IsFormLoaded(QStringLiteral("fFileDownload")) && startWindow_)
        startWindow_->show();
}

QString fWebSearch::harvestFolder(bool showChooser) {
    if (context_.options.PromptSaveFolder != 1)
        return {};
    if (showChooser && chooseFolder)
        chooseFolder();
    return context_.options.DownloadFolder;
}

QCoro::Task<void> fWebSearch::AddThisPage() {
    QPointer<fWebSearch> self = this;
    Command9->setEnabled(false);
    co_await harvester_->AddPage(harvestFolder(true));
    if (!self)
        co_return;
    AutoSizeColumns(ListView1);
    Command9->setEnabled(true);
}

void fWebSearch::setAddAllRunning(bool running) {
    Command4->setText(running ? QStringLiteral("停止加入全部") : QStringLiteral("加入全部到列表"));
    Command4->setStyleSheet(running ? QStringLiteral("background-color: rgb(255, 0, 0);")
                                    : QString());
}

QCoro::Task<void> fWebSearch::AddAllPages() {
    QPointer<fWebSearch> self = this;
    if (Command4->text() != u"加入全部到列表") {
        flags.setStopAddAll(true);
        AutoSizeColumns(ListView1);
        co_return;
    }
    setAddAllRunning(true);
    flags.setStopAddAll(false);
    const QString folder = harvestFolder(true);
    co_await harvester_->AddAll(folder);
    if (!self)
        co_return;
    setAddAllRunning(false);
    AutoSizeColumns(ListView1);
}

bool fWebSearch::mayClearRecords() {
    if (flags.StopAnalysis())
        return true;
    prompter_->message(QStringLiteral("正在分析，不能清除！"), Prompter::Icon::Critical);
    return false;
}

void fWebSearch::ClearSelected() {
    if (!mayClearRecords() || records.count() == 0)
        return;
    QList<int> rows;
    for (const QModelIndex& index : ListView1->selectionModel()->selectedRows())
        rows.append(index.row() + 1);
    records.removeRecordRows(rows);
}

void fWebSearch::ClearSucceeded() {
    if (!mayClearRecords() || records.count() == 0)
        return;
    SweepRecords(records, [](const SearchRecord& r) { return r.status == RecordStatus::Found; });
}

void fWebSearch::ClearTitles(bool containing) {
    if (!mayClearRecords())
        return;
    const auto answer =
        prompter_->inputText(QStringLiteral("请输入指定字符："), QStringLiteral("Quillmarsh"));
    if (!answer || answer->isEmpty() || records.count() == 0)
        return;
    const QString text = *answer;
    SweepRecords(records, [&text, containing](const SearchRecord& r) {
        return TitleContains(r, text) == containing;
    });
}

void fWebSearch::ClearAll() {
    if (!mayClearRecords())
        return;
    if (!prompter_->askYesNo(QStringLiteral("您确定要清空辛辛苦苦搜索的列表数据吗？")))
        return;
    records.clear();
}

void fWebSearch::ExportRecords() {
    if (records.count() == 0)
        return;
    const QString path = prompter_->saveFileNameConfirmingOverwrite(QStringLiteral("导出数据"),
                                                                    QString(), QString());
    if (path.isEmpty())
        return;
    const QByteArray bytes = RecordExportText(records);
    if (!WriteFileAtomically(path, bytes)) {
        prompter_->message(QStringLiteral("保存文件失败：") + path, Prompter::Icon::Critical);
        return;
    }
    prompter_->message(QStringLiteral("保存文件完毕：") + KilobytesText(bytes.size()) +
                           QStringLiteral("KB"),
                       Prompter::Icon::Information);
}

void fWebSearch::connectAnalysis() {
    PdfLinkResolver::PrepareHiddenBrowser(Web2);
    resolver_ = new PdfLinkResolver(Web2, flags, this);
    analysis_ = new AnalysisRun(records, flags, *resolver_, context_.options, this);
    analysis_->isSelected = [this](int row) {
        return ListView1->selectionModel()->isRowSelected(row - 1, {});
    };
    analysis_->chooseFolder = [this] {
        if (chooseFolder)
            chooseFolder();
    };
    // The download window is looked up for every task: the user may close it during a run.
    analysis_->handOver = [this](const FoundPdf& pdf) {
        downloadWindow()->tasks.appendTask(pdf.url, pdf.name, pdf.type, pdf.folder);
    };
    analysis_->showDownloads = [this] { 显示下载窗口(); };
    connect(analysis_, &AnalysisRun::runningChanged, this, &fWebSearch::showAnalysisRunning);
}

void fWebSearch::StartAnalysis() {
    Command2->setEnabled(false);
    if (records.count() == 0)
        prompter_->message(QStringLiteral("请先检索，添加到列表！"), Prompter::Icon::Information);
    else if (!ListView1->currentIndex().isValid())
        analysis_->RunAnalysis(AnalysisVariant::All);
    else
        menuAdd->popup(Command2->mapToGlobal(QPoint(0, Command2->height())));
    Command2->setEnabled(!analysis_->running());
}

void fWebSearch::showAnalysisRunning(bool running) {
    // One hidden browser: no second run while one is active.
    Command2->setEnabled(!running);
    for (QAction* item : menuAdd->actions())
        item->setEnabled(!running);
    if (running) {
        Label11->setText(QStringLiteral("正在分析,请稍候..."));
        centreProgressPanel();
        PicPanPrograss->show();
        PicPanPrograss->raise();
    } else {
        PicPanPrograss->hide();
    }
}

fFileDownload* fWebSearch::downloadWindow() {
    fFileDownload* window = fFileDownload::Find();
    return window ? window : new fFileDownload(context_, nullptr);
}

void fWebSearch::显示下载窗口() {
    fFileDownload* window = downloadWindow();
    window->ListView3->viewport()->update();
    if (!window->isVisible())
        window->show();
    if (window->isMinimized())
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) |
                               Qt::WindowMaximized);
}
