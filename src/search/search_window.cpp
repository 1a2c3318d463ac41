#include "search/search_window.h"

#include "app/app_context.h"
#include "app/browser_view.h"
#include "app/certificate_guard.h"
#include "download/download_window.h"
#include "search/harvester.h"
#include "search/record_cleanup.h"
#include "search/record_export.h"
#include "settings/folder_chooser.h"
#include "settings/options_dialog.h"
#include "settings/shared_options.h"
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
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QVBoxLayout>

#include <qcoro/qcorotask.h>

namespace {

// Layout limits, in twips as the window rules state them.
constexpr int MinWidthTwips = 9000;
constexpr int MinHeightTwips = 5000;
constexpr int SplitterBottomMarginTwips = 1200;
constexpr int RecordRowHeight = 13;

int Px(int twips) {
    return (twips + 14) / 15;
}

// Lets the user drag a panel around inside its parent.
class PanelDragger : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* panel = qobject_cast<QWidget*>(watched);
        if (!panel)
            return false;
        if (event->type() == QEvent::MouseButtonPress) {
            auto* e = static_cast<QMouseEvent*>(event);
            if (e->button() == Qt::LeftButton)
                offset_ = e->position().toPoint();
        } else if (event->type() == QEvent::MouseMove) {
            auto* e = static_cast<QMouseEvent*>(event);
            QWidget* area = panel->parentWidget();
            if ((e->buttons() & Qt::LeftButton) && area) {
                const QPoint inArea = panel->mapToParent(e->position().toPoint());
                if (area->rect().contains(inArea))
                    panel->move(inArea - offset_);
            }
        }
        return false;
    }

private:
    QPoint offset_;
};

} // namespace

fWebSearch::fWebSearch(AppContext& context, QWidget* startWindow, Prompter* prompter)
    : context_(context)
    , startWindow_(startWindow)
    , prompter_(prompter, this) {
    setObjectName(QStringLiteral("fWebSearch"));
    setAttribute(Qt::WA_DeleteOnClose);
    setMinimumSize(Px(MinWidthTwips), Px(MinHeightTwips));
    buildControls();
    harvester_ = new Harvester(WebBrowser1->browser(), flags, records, this);
    harvester_->setCheckedOnly([this] { return Check1->isChecked(); });
    chooseFolder = [this] {
        fSeleFileSavePath::Choose(context_.options, context_.store, prompter_.get(), this);
    };
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
    // Pages go before the profile they belong to; make sure nothing waits on them.
    flags.setStopAddAll(true);
    flags.setStopAnalysis(true);
}

void fWebSearch::buildControls() {
    PicBar = new QSplitter(Qt::Vertical, this);
    PicBar->setObjectName(QStringLiteral("PicBar"));
    PicBar->setChildrenCollapsible(false);
    PicBar->setHandleWidth(6);

    PicPanWeb = new QWidget(PicBar);
    PicPanWeb->setObjectName(QStringLiteral("PicPanWeb"));
    WebBrowser1 = new BrowserView(context_.profile, PicPanWeb);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    auto* webLayout = new QVBoxLayout(PicPanWeb);
    webLayout->setContentsMargins(1, 1, 1, 1);
    webLayout->addWidget(WebBrowser1);

    PicPanList = new QWidget(PicBar);
    PicPanList->setObjectName(QStringLiteral("PicPanList"));
    Combo1 = new QComboBox(PicPanList);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setToolTip(QStringLiteral("点击网址，打开历史网页"));
    Combo1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Combo1->setMinimumContentsLength(30);
    Command1 = new QPushButton(QStringLiteral("清空"), PicPanList);
    Command1->setObjectName(QStringLiteral("Command1"));
    Check2 = new QCheckBox(QStringLiteral("禁止浏览器弹出脚本提示"), PicPanList);
    Check2->setObjectName(QStringLiteral("Check2"));
    Check1 = new QCheckBox(QStringLiteral("只提取网页勾选项"), PicPanList);
    Check1->setObjectName(QStringLiteral("Check1"));
    Command9 = new QPushButton(QStringLiteral("加入本页到列表"), PicPanList);
    Command9->setObjectName(QStringLiteral("Command9"));
    Command4 = new QPushButton(QStringLiteral("加入全部到列表"), PicPanList);
    Command4->setObjectName(QStringLiteral("Command4"));
    Command2 = new QPushButton(QStringLiteral("开始分析"), PicPanList);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command3 = new QPushButton(QStringLiteral("停止分析"), PicPanList);
    Command3->setObjectName(QStringLiteral("Command3"));
    Command7 = new QPushButton(QStringLiteral("导出数据..."), PicPanList);
    Command7->setObjectName(QStringLiteral("Command7"));
    auto* countCaption = new QLabel(QStringLiteral("待分析列表："), PicPanList);
    Label1 = new QLabel(QStringLiteral("0"), PicPanList);
    Label1->setObjectName(QStringLiteral("Label1"));

    ListView1 = new QTableView(PicPanList);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setToolTip(QStringLiteral("双击浏览选中的文章"));
    ListView1->setModel(&records);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    ListView1->verticalHeader()->hide();
    ListView1->horizontalHeader()->setStretchLastSection(true);
    ListView1->setWordWrap(false);
    PaintListStripes(ListView1, RecordRowHeight);
    connect(&records, &RecordListModel::countChanged, this,
            [this](int n) { Label1->setText(QString::number(n)); });

    auto* row1 = new QHBoxLayout;
    row1->addWidget(Combo1, 1);
    row1->addWidget(Command1);
    row1->addSpacing(12);
    row1->addWidget(Check2);
    row1->addWidget(Check1);
    auto* row2 = new QHBoxLayout;
    for (QPushButton* b : {Command9, Command4, Command2, Command3, Command7})
        row2->addWidget(b);
    row2->addStretch(1);
    row2->addWidget(countCaption);
    row2->addWidget(Label1);
    auto* listLayout = new QVBoxLayout(PicPanList);
    listLayout->setContentsMargins(2, 2, 2, 2);
    listLayout->addLayout(row1);
    listLayout->addLayout(row2);
    listLayout->addWidget(ListView1, 1);

    PicPanPrograss = new QFrame(PicPanList);
    PicPanPrograss->setObjectName(QStringLiteral("PicPanPrograss"));
    PicPanPrograss->setFrameShape(QFrame::Panel);
    PicPanPrograss->setFrameShadow(QFrame::Raised);
    PicPanPrograss->setAutoFillBackground(true);
    Label11 = new QLabel(QStringLiteral("正在分析，请稍候..."), PicPanPrograss);
    Label11->setObjectName(QStringLiteral("Label11"));
    Command5 = new QPushButton(QStringLiteral("停止"), PicPanPrograss);
    Command5->setObjectName(QStringLiteral("Command5"));
    auto* progressLayout = new QHBoxLayout(PicPanPrograss);
    progressLayout->addWidget(Label11);
    progressLayout->addWidget(Command5);
    PicPanPrograss->adjustSize();
    PicPanPrograss->installEventFilter(new PanelDragger(PicPanPrograss));
    PicPanPrograss->hide();

    PicBar->addWidget(PicPanWeb);
    PicBar->addWidget(PicPanList);
    PicBar->setStretchFactor(0, 4);
    PicBar->setStretchFactor(1, 1);
    setCentralWidget(PicBar);
    connect(PicBar, &QSplitter::splitterMoved, this, [this] {
        applyLayoutRules();
        centreProgressPanel();
    });

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusPanel1 = new QLabel(StatusBar1);
    StatusPanel2 = new QLabel(StatusBar1);
    StatusPanel2->setObjectName(QStringLiteral("StatusPanel2"));
    StatusBar1->addWidget(StatusPanel1);
    StatusBar1->addWidget(StatusPanel2, 1);
    setStatusBar(StatusBar1);

    Web2 = new BrowserPage(context_.profile, this);
    Web2->setObjectName(QStringLiteral("Web2"));
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
    for (const char16_t* caption : {u"分析未分析项", u"分析失败项", u"分析选中项", u"分析全部"})
        addMenuItem(menuAdd, QString::fromUtf16(caption));

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

    // The hidden browser keeps framed pages as first loaded and runs no dialogs.
    Web2->setKeepFramedPages(true);
    Web2->setScriptBlockers(true);
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

void fWebSearch::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (isMinimized())
        return;
    applyLayoutRules();
    PaintListStripes(ListView1, RecordRowHeight);
    centreProgressPanel();
}

void fWebSearch::applyLayoutRules() {
    const QList<int> sizes = PicBar->sizes();
    if (sizes.size() != 2)
        return;
    // The splitter's top edge, in window coordinates.
    const int splitterTop = PicBar->y() + sizes.at(0);
    const int lowest = height() - Px(SplitterBottomMarginTwips);
    if (splitterTop <= PicBar->y() || splitterTop > lowest) {
        const int webHeight = std::max(1, height() * 4 / 5 - PicBar->y());
        const int total = sizes.at(0) + sizes.at(1);
        PicBar->setSizes({webHeight, std::max(1, total - webHeight)});
    }
}

void fWebSearch::centreProgressPanel() {
    PicPanPrograss->adjustSize();
    const QSize area = PicPanList->size();
    PicPanPrograss->move((area.width() - PicPanPrograss->width()) / 2,
                         (area.height() - PicPanPrograss->height()) / 2);
}

void fWebSearch::closeEvent(QCloseEvent* event) {
    flags.setStopAddAll(true);
    flags.setStopAnalysis(true);
    event->accept();
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
    SweepRecords(records, [](const SearchRecord& r) { return r.status == u"成功"; });
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
    const QString path = prompter_->saveFileName(QStringLiteral("导出数据"), QString(), QString());
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
