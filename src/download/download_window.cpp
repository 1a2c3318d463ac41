#include "download/download_window.h"

#include "app/app_context.h"
#include "app/browser_view.h"
#include "app/certificate_guard.h"
#include "download/download_session.h"
#include "download/file_type.h"
#include "download/row_file_types.h"
#include "download/task_commands.h"
#include "download/url_replace_dialog.h"
#include "search/search_window.h"
#include "settings/folder_chooser.h"
#include "settings/form_geometry.h"
#include "settings/options_dialog.h"
#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "storage/list_store.h"
#include "storage/store_status.h"
#include "tools/about_box.h"
#include "tools/cache_viewer_window.h"
#include "tools/file_helpers.h"
#include "tools/notify_sound.h"
#include "tools/shell_open.h"
#include "tools/text_utils.h"
#include "tools/widget_prompter.h"
#include "tools/window_helpers.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int TaskRowHeight = 17;
constexpr int MaxIntervalSeconds = 600;
constexpr int MaxThreads = 6;

QIcon StateIcon(TaskState state) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (state) {
    case TaskState::Waiting:
        p.setPen(QPen(QColor(120, 120, 120), 1.5));
        p.setBrush(QColor(235, 235, 235));
        p.drawEllipse(QRectF(2, 2, 12, 12));
        p.drawLine(QPointF(8, 8), QPointF(8, 4.5));
        p.drawLine(QPointF(8, 8), QPointF(11, 8));
        break;
    case TaskState::Downloading:
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 110, 200));
        p.drawPolygon(QPolygonF({QPointF(5, 2), QPointF(11, 2), QPointF(11, 8), QPointF(14, 8),
                                 QPointF(8, 14), QPointF(2, 8), QPointF(5, 8)}));
        break;
    case TaskState::Done:
        p.setPen(QPen(QColor(20, 150, 60), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(3, 8.5), QPointF(6.5, 12), QPointF(13, 4)}));
        break;
    case TaskState::Failed:
        p.setPen(QPen(QColor(210, 40, 40), 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
    }
    return QIcon(pixmap);
}

int TwipsToPx(int twips) {
    return twips / 15;
}

} // namespace

fFileDownload* fFileDownload::Find() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<fFileDownload*>(w))
            return window;
    }
    return nullptr;
}

fFileDownload* fFileDownload::Show(AppContext& context) {
    fFileDownload* window = Find();
    if (!window)
        window = new fFileDownload(context, nullptr);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

fFileDownload::fFileDownload(AppContext& context, Prompter* prompter)
    : prompter_(prompter, this)
    , ownTasks_(context.lists ? nullptr : std::make_unique<TaskListModel>())
    , tasks(context.lists ? context.lists->tasks() : *ownTasks_)
    , session(new DownloadSession(context.profile, this))
    , scheduler(new DownloadScheduler(tasks, context.options, *session, *prompter_, this))
    , activity(scheduler->activity)
    , context_(context) {
    setObjectName(QStringLiteral("fFileDownload"));
    setAttribute(Qt::WA_DeleteOnClose);
    buildPanel();
    buildList();
    buildMenus();
    connectScheduler();
    load();
}

fFileDownload::~fFileDownload() = default;

void fFileDownload::buildPanel() {
    Picture3 = new QFrame(this);
    Picture3->setObjectName(QStringLiteral("Picture3"));
    Picture3->setFrameShape(QFrame::StyledPanel);
    Picture3->setAutoFillBackground(true);
    QPalette panel = Picture3->palette();
    QLinearGradient image(0, 0, 0, 120);
    image.setColorAt(0, QColor(236, 244, 250));
    image.setColorAt(1, QColor(214, 230, 242));
    panel.setBrush(QPalette::Window, image);
    Picture3->setPalette(panel);

    Label7 = new QLabel(Picture3);
    Label7->setObjectName(QStringLiteral("Label7"));
    Command26 = new QPushButton(QStringLiteral("切换"), Picture3);
    Command26->setObjectName(QStringLiteral("Command26"));
    Command26->setToolTip(QStringLiteral("更改下载方式"));
    auto* label2 = new QLabel(QStringLiteral("线程数："), Picture3);
    Combo1 = new QComboBox(Picture3);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    for (int i = 1; i <= MaxThreads; ++i)
        Combo1->addItem(QString::number(i));
    auto* label8 = new QLabel(QStringLiteral("同名文件："), Picture3);
    Option1 = new QRadioButton(QStringLiteral("跳过"), Picture3);
    Option1->setObjectName(QStringLiteral("Option1"));
    Option2 = new QRadioButton(QStringLiteral("覆盖"), Picture3);
    Option2->setObjectName(QStringLiteral("Option2"));
    Option3 = new QRadioButton(QStringLiteral("重命名"), Picture3);
    Option3->setObjectName(QStringLiteral("Option3"));

    // The interval list sits in the gap of its caption: the caption shows up to the gap,
    // the unit follows the list.
    auto* intervalBox = new QWidget(Picture3);
    auto* label5 = new QLabel(QStringLiteral("两个文件下载间隔：        秒"), intervalBox);
    label5->setObjectName(QStringLiteral("Label5"));
    label5->setFixedWidth(
        label5->fontMetrics().horizontalAdvance(QStringLiteral("两个文件下载间隔：")));
    Combo2 = new QComboBox(intervalBox);
    Combo2->setObjectName(QStringLiteral("Combo2"));
    Combo2->setMaxVisibleItems(20);
    auto* intervalLayout = new QHBoxLayout(intervalBox);
    intervalLayout->setContentsMargins(0, 0, 0, 0);
    intervalLayout->setSpacing(2);
    intervalLayout->addWidget(label5);
    intervalLayout->addWidget(Combo2);
    intervalLayout->addWidget(new QLabel(QStringLiteral("秒"), intervalBox));

    Check3 = new QCheckBox(QStringLiteral("自动重新下载："), Picture3);
    Check3->setObjectName(QStringLiteral("Check3"));
    Combo4 = new QComboBox(Picture3);
    Combo4->setObjectName(QStringLiteral("Combo4"));
    Combo4->addItems({QStringLiteral("出错项"), QStringLiteral("文件类型为HTM和HTML项"),
                      QStringLiteral("出错项和文件类型为HTM和HTML项")});
    Check4 = new QCheckBox(QStringLiteral("当有待下载项时，自动启动下载"), Picture3);
    Check4->setObjectName(QStringLiteral("Check4"));
    Check5 = new QCheckBox(QStringLiteral("有5个以上下载出错或者网页文件，就停止下载"), Picture3);
    Check5->setObjectName(QStringLiteral("Check5"));
    Check6 = new QCheckBox(QStringLiteral("声音提示"), Picture3);
    Check6->setObjectName(QStringLiteral("Check6"));
    Command4 = new QPushButton(QStringLiteral("开始下载"), Picture3);
    Command4->setObjectName(QStringLiteral("Command4"));
    Command31 = new QPushButton(QStringLiteral("停止下载"), Picture3);
    Command31->setObjectName(QStringLiteral("Command31"));
    Command1 = new QPushButton(QStringLiteral("网页登录"), Picture3);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setCheckable(true);
    RunningIndicator = new QLabel(QStringLiteral("正在下载..."), Picture3);
    RunningIndicator->setObjectName(QStringLiteral("RunningIndicator"));
    RunningIndicator->setStyleSheet(QStringLiteral("color: rgb(200, 0, 0); font-weight: bold;"));
    RunningIndicator->hide();
    auto* label4 = new QLabel(QStringLiteral("下载列表："), Picture3);
    Label1 = new QLabel(QStringLiteral("0条"), Picture3);
    Label1->setObjectName(QStringLiteral("Label1"));

    auto* grid = new QGridLayout(Picture3);
    grid->setContentsMargins(8, 6, 8, 6);
    auto* row1 = new QHBoxLayout;
    row1->addWidget(Label7);
    row1->addWidget(Command26);
    row1->addSpacing(16);
    row1->addWidget(label2);
    row1->addWidget(Combo1);
    row1->addSpacing(16);
    row1->addWidget(label8);
    row1->addWidget(Option1);
    row1->addWidget(Option2);
    row1->addWidget(Option3);
    row1->addSpacing(16);
    row1->addWidget(intervalBox);
    row1->addStretch(1);
    auto* row2 = new QHBoxLayout;
    row2->addWidget(Check3);
    row2->addWidget(Combo4);
    row2->addSpacing(12);
    row2->addWidget(Check4);
    row2->addSpacing(12);
    row2->addWidget(Check5);
    row2->addSpacing(12);
    row2->addWidget(Check6);
    row2->addStretch(1);
    auto* row3 = new QHBoxLayout;
    row3->addWidget(Command4);
    row3->addWidget(Command31);
    row3->addSpacing(16);
    row3->addWidget(Command1);
    row3->addSpacing(16);
    row3->addWidget(RunningIndicator);
    row3->addStretch(1);
    row3->addWidget(label4);
    row3->addWidget(Label1);
    grid->addLayout(row1, 0, 0);
    grid->addLayout(row2, 1, 0);
    grid->addLayout(row3, 2, 0);

    connect(Command26, &QPushButton::clicked, this, &fFileDownload::SwitchMethod);
    connect(Command1, &QPushButton::toggled, this, [this](bool on) {
        listArea->setCurrentWidget(on ? PicWebBK : static_cast<QWidget*>(ListView3));
    });
}

void fFileDownload::buildList() {
    listArea = new QStackedWidget(this);
    ListView3 = new QTableView(listArea);
    ListView3->setObjectName(QStringLiteral("ListView3"));
    ListView3->setToolTip(QStringLiteral("双击鼠标：下载当前项或者打开文件"));
    tasks.setStateIcons({StateIcon(TaskState::Waiting), StateIcon(TaskState::Downloading),
                         StateIcon(TaskState::Done), StateIcon(TaskState::Failed)});
    ListView3->setModel(&tasks);
    ListView3->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView3->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView3->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView3->setContextMenuPolicy(Qt::CustomContextMenu);
    ListView3->setWordWrap(false);
    ListView3->verticalHeader()->hide();
    ListView3->horizontalHeader()->setSectionsClickable(true);
    ListView3->horizontalHeader()->setSortIndicatorShown(true);
    ListView3->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    for (int c = 0; c < TaskListModel::ColumnCount; ++c)
        ListView3->setColumnWidth(c, TwipsToPx(TaskListModel::ColumnWidthTwips(c)));
    PaintListStripes(ListView3, TaskRowHeight);

    PicWebBK = new QWidget(listArea);
    PicWebBK->setObjectName(QStringLiteral("PicWebBK"));
    Web1 = new BrowserView(context_.profile, PicWebBK);
    Web1->setObjectName(QStringLiteral("Web1"));
    auto* webLayout = new QVBoxLayout(PicWebBK);
    webLayout->setContentsMargins(0, 0, 2, 2);
    webLayout->addWidget(Web1);
    listArea->addWidget(ListView3);
    listArea->addWidget(PicWebBK);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    layout->addWidget(Picture3);
    layout->addWidget(listArea, 1);
    setCentralWidget(central);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    for (int i = 0; i < 4; ++i) {
        Panel[i] = new QLabel(StatusBar1);
        Panel[i]->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        StatusBar1->addWidget(Panel[i], i == 1 ? 3 : 1);
    }
    Panel[0]->setText(QStringLiteral("Quillmarsh 下载"));
    Panel[1]->installEventFilter(this);
    Panel[1]->setCursor(Qt::PointingHandCursor);
    setStatusBar(StatusBar1);
    ShowListStoreProblems(StatusBar1, context_.lists);

    connect(&tasks, &TaskListModel::countChanged, this, &fFileDownload::showCount);
    connect(ListView3->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &fFileDownload::SortBy);
    connect(ListView3, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& i) { RowClicked(i.row()); });
    connect(ListView3, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& i) { RowDoubleClicked(i.row()); });
    connect(ListView3, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        PrepareContextMenu();
        menu下载->popup(ListView3->viewport()->mapToGlobal(at));
    });

    BrowserPage* page = Web1->browser();
    connect(new CertificateGuard(page, prompter_.get()), &CertificateGuard::StatusText, Panel[2],
            &QLabel::setText);
    connect(page, &BrowserPage::DocumentComplete, this, [this] { WebPageLoading = false; });
    connect(page, &BrowserPage::TitleChange, this, [this](const QString& title) {
        if (TrimSpaces(title).toLower() != u"about:blank")
            Panel[2]->setText(title);
    });

    Timer_Down = &scheduler->tickTimer();
    Timer1 = &scheduler->supervisorTimer();
}

void fFileDownload::connectScheduler() {
    SchedulerHooks& h = scheduler->hooks;
    h.panel2 = [this](const QString& t) { Panel[1]->setText(t); };
    h.panel3 = [this](const QString& t) { Panel[2]->setText(t); };
    h.panel4 = [this](const QString& t) { Panel[3]->setText(t); };
    h.locate = [this](int row) { ListView3->scrollTo(tasks.index(row - 1, 0)); };
    h.runningIndicator = [this](bool on) { RunningIndicator->setVisible(on); };
    h.startMenuEnabled = [this](bool on) {
        action(QStringLiteral("menu下载全部"))->setEnabled(on);
    };
    h.autoOptionsCleared = [this] {
        Check3->setChecked(false);
        Check4->setChecked(false);
    };
    h.playSound = [](int sound) { PlayNotifySound(sound); };

    SchedulerSettings& s = scheduler->settings;
    connect(Combo1, &QComboBox::currentIndexChanged, this, [&s](int i) { s.threads = i + 1; });
    connect(Combo2, &QComboBox::currentIndexChanged, this,
            [&s](int i) { s.intervalSeconds = std::max(0, i); });
    for (QRadioButton* option : {Option1, Option2, Option3})
        connect(option, &QRadioButton::toggled, this, [this, &s] { s.policy = SelectedPolicy(); });
    connect(Check3, &QCheckBox::toggled, this, [&s](bool on) { s.autoRequeue = on; });
    connect(Combo4, &QComboBox::currentIndexChanged, this,
            [&s](int i) { s.autoRequeueKind = std::max(0, i); });
    connect(Check4, &QCheckBox::toggled, this, [&s](bool on) { s.autoStart = on; });
    connect(Check5, &QCheckBox::toggled, this, [&s](bool on) { s.stopAfterProblems = on; });
    connect(Check6, &QCheckBox::toggled, this, [&s](bool on) { s.sound = on; });
    connect(action(QStringLiteral("menu自动定位到下载项")), &QAction::toggled, this,
            [&s](bool on) { s.autoLocate = on; });

    connect(Command4, &QPushButton::clicked, scheduler, &DownloadScheduler::Start);
    connect(Command31, &QPushButton::clicked, scheduler, &DownloadScheduler::Stop);
    connect(action(QStringLiteral("menu下载全部")), &QAction::triggered, scheduler,
            &DownloadScheduler::Start);
    connect(action(QStringLiteral("menu停止下载")), &QAction::triggered, scheduler,
            &DownloadScheduler::Stop);
}

QAction* fFileDownload::addItem(QMenu* menu, const QString& caption, const QString& name) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    return a;
}

QAction* fFileDownload::action(const QString& objectName) const {
    return findChild<QAction*>(objectName);
}

void fFileDownload::buildMenus() {
    menu下载 = menuBar()->addMenu(QStringLiteral("列表操作(&D)"));
    menu下载->setObjectName(QStringLiteral("menu下载"));
    QMenu* m = menu下载;
    connect(addItem(m, QStringLiteral("全选"), QStringLiteral("menu全选专利列表")),
            &QAction::triggered, this, &fFileDownload::SelectAll);
    connect(addItem(m, QStringLiteral("全不选"), QStringLiteral("menu全不选")), &QAction::triggered,
            this, &fFileDownload::SelectNone);
    connect(addItem(m, QStringLiteral("随机排序列表(打乱)"), QStringLiteral("menu随机排序列表")),
            &QAction::triggered, this, &fFileDownload::Shuffle);
    connect(addItem(m, QStringLiteral("自动调整列宽"), QStringLiteral("menu自动列宽")),
            &QAction::triggered, this, &fFileDownload::AutoColumnWidths);
    m->addSeparator();
    QMenu* again = m->addMenu(QStringLiteral("重新下载"));
    again->menuAction()->setObjectName(QStringLiteral("menu重新下载"));
    connect(addItem(again, QStringLiteral("选中项"), QStringLiteral("menu重新下载选中项")),
            &QAction::triggered, this, &fFileDownload::RequeueSelectedRows);
    connect(addItem(again, QStringLiteral("出错项"), QStringLiteral("menu重新下载出错项")),
            &QAction::triggered, this, &fFileDownload::RequeueFailed);
    connect(addItem(again, QStringLiteral("网页类型文件(HTM/HTML/xml)项"),
                    QStringLiteral("menu重新下载文件类型为HTM和HTML项")),
            &QAction::triggered, this, &fFileDownload::RequeueWebPages);
    connect(addItem(again, QStringLiteral("重新下载出错项和网页类型文件项"),
                    QStringLiteral("menu重新下载出错项和网页项")),
            &QAction::triggered, this, &fFileDownload::RequeueFailedAndWeb);
    connect(addItem(again, QStringLiteral("文件大小小于指定数字的项"),
                    QStringLiteral("menu重新下载文件大小小于指定数字的项")),
            &QAction::triggered, this, &fFileDownload::RequeueSmaller);
    m->addSeparator();
    QMenu* clear = m->addMenu(QStringLiteral("清除"));
    clear->menuAction()->setObjectName(QStringLiteral("menu清除"));
    connect(addItem(clear, QStringLiteral("选中项"), QStringLiteral("menu清除选中项")),
            &QAction::triggered, this, &fFileDownload::ClearSelectedRows);
    connect(addItem(clear, QStringLiteral("全部出错项"), QStringLiteral("menu清除全部出错项")),
            &QAction::triggered, this, &fFileDownload::ClearFailedRows);
    connect(addItem(clear, QStringLiteral("完成项"), QStringLiteral("menu清除完成项")),
            &QAction::triggered, this, &fFileDownload::ClearDoneRows);
    connect(addItem(m, QStringLiteral("清空"), QStringLiteral("menu清空")), &QAction::triggered,
            this, &fFileDownload::ClearList);
    QMenu* del = m->addMenu(QStringLiteral("删除文件"));
    del->menuAction()->setObjectName(QStringLiteral("menu删除"));
    connect(addItem(del, QStringLiteral("网页类型文件(HTM/HTML/xml)项"),
                    QStringLiteral("menu删除网页类型文件项")),
            &QAction::triggered, this, &fFileDownload::DeleteWebPageFiles);
    connect(addItem(del, QStringLiteral("出错项"), QStringLiteral("menu删除出错项")),
            &QAction::triggered, this, &fFileDownload::DeleteFailedFiles);
    m->addSeparator();
    addItem(m, QStringLiteral("开始下载"), QStringLiteral("menu下载全部"));
    addItem(m, QStringLiteral("停止下载"), QStringLiteral("menu停止下载"));
    connect(addItem(m, QStringLiteral("取消下载选中项"), QStringLiteral("menu取消下载选中项")),
            &QAction::triggered, this, &fFileDownload::CancelSelected);
    m->addSeparator();
    connect(addItem(m, QStringLiteral("打开下载文件"), QStringLiteral("menu打开下载文件")),
            &QAction::triggered, this, &fFileDownload::OpenFile);
    connect(addItem(m, QStringLiteral("打开所在文件夹"), QStringLiteral("menu打开文件所在文件夹")),
            &QAction::triggered, this, &fFileDownload::OpenFolder);
    connect(addItem(m, QStringLiteral("用记事本打开文件"), QStringLiteral("menu用记事本打开文件")),
            &QAction::triggered, this, &fFileDownload::OpenInEditor);
    m->addSeparator();
    connect(addItem(m, QStringLiteral("复制名称"), QStringLiteral("menu复制名称")),
            &QAction::triggered, this, &fFileDownload::CopyName);
    connect(addItem(m, QStringLiteral("批量替换网址"), QStringLiteral("menu批量替换网址")),
            &QAction::triggered, this, &fFileDownload::ReplaceUrls);
    QMenu* names = m->addMenu(QStringLiteral("导出名称"));
    names->menuAction()->setObjectName(QStringLiteral("menu导出名称"));
    connect(addItem(names, QStringLiteral("全部"), QStringLiteral("menu导出全部名称")),
            &QAction::triggered, this, [this] { ExportNames(false); });
    connect(addItem(names, QStringLiteral("未完成项"), QStringLiteral("menu导出未完成项名称")),
            &QAction::triggered, this, [this] { ExportNames(true); });
    m->addSeparator();
    connect(addItem(m, QStringLiteral("关闭本下载窗口"), QStringLiteral("menu退出本下载窗口")),
            &QAction::triggered, this, &QWidget::close);

    QMenu* windows = menuBar()->addMenu(QStringLiteral("窗口(&W)"));
    windows->setObjectName(QStringLiteral("menu窗口"));
    connect(addItem(windows, QStringLiteral("资料检索分析窗口"),
                    QStringLiteral("menu资料检索分析窗口")),
            &QAction::triggered, this, [this] { fWebSearch::Show(context_); });

    QMenu* tools = menuBar()->addMenu(QStringLiteral("工具(&T)"));
    tools->setObjectName(QStringLiteral("menu工具"));
    connect(addItem(tools, QStringLiteral("设置"), QStringLiteral("设置")), &QAction::triggered,
            this, [this] {
                fOption options(context_.options, context_.store, prompter_.get(), this);
                options.exec();
            });
    QAction* locate =
        addItem(tools, QStringLiteral("自动定位到下载项"), QStringLiteral("menu自动定位到下载项"));
    locate->setCheckable(true);
    tools->addSeparator();
    connect(
        addItem(tools, QStringLiteral("检查文件是否存在"), QStringLiteral("menu检查文件是否存在")),
        &QAction::triggered, this, &fFileDownload::CheckFiles);
    connect(addItem(tools, QStringLiteral("检查并纠正磁盘文件类型"),
                    QStringLiteral("menu检查并纠正磁盘文件类型")),
            &QAction::triggered, this, &fFileDownload::CorrectFileTypes);
    tools->addSeparator();
    connect(
        addItem(tools, QStringLiteral("清空IE浏览器缓存"), QStringLiteral("menu清空IE浏览器缓存")),
        &QAction::triggered, this, [this] { ClearBrowserCache(context_, prompter_.get(), this); });
    connect(
        addItem(tools, QStringLiteral("打开文件判断类型"), QStringLiteral("menu打开文件判断类型")),
        &QAction::triggered, this, &fFileDownload::DetectChosenFile);

    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    help->setObjectName(QStringLiteral("menu帮助"));
    connect(addItem(help, QStringLiteral("关于"), QStringLiteral("关于")), &QAction::triggered,
            this, [this] {
                frmAbout about(this);
                about.exec();
            });
}

void fFileDownload::load() {
    setWindowTitle(WindowCaption(QStringLiteral("文件下载")));
    FitDropDownWidth(Combo4);
    SharedOptions& o = context_.options;
    o.loadForDownloadWindow(context_.store);
    ShowMethod(o.DownloadMethod);
    if (o.DownloadMethod != 1)
        Combo1->setCurrentIndex(
            context_.store.integerInRange(SettingKeys::ThreadIndex(), 0, MaxThreads - 1));
    if (TrimSpaces(Option1->text()) == o.DuplicateNamePolicy)
        Option1->setChecked(true);
    else if (TrimSpaces(Option2->text()) == o.DuplicateNamePolicy)
        Option2->setChecked(true);
    else
        Option3->setChecked(true);
    RestoreFormGeometry(*this, context_.store);
    for (int s = 0; s <= MaxIntervalSeconds; ++s)
        Combo2->addItem(QString::number(s));
    Combo2->setCurrentIndex(0);
    Web1->browser()->setSilent(true);
    Web1->browser()->Navigate(QStringLiteral("about:blank"));
    scheduler->settings.threads = Combo1->currentIndex() + 1;
    scheduler->settings.policy = SelectedPolicy();
    scheduler->markFinishedNow();
    scheduler->startSupervisor();
    ShowTaskCounts();
    showCount();
}

QString fFileDownload::SelectedPolicy() const {
    for (QRadioButton* option : {Option1, Option2, Option3}) {
        if (option->isChecked())
            return TrimSpaces(option->text());
    }
    return TrimSpaces(Option3->text());
}

void fFileDownload::ShowMethod(int method) {
    Label7->setText(QStringLiteral("下载方式：%1").arg(method));
    Combo1->setEnabled(method == 2);
    Combo1->setCurrentIndex(0);
}

void fFileDownload::SwitchMethod() {
    SharedOptions& o = context_.options;
    o.DownloadMethod = o.DownloadMethod == 2 ? 1 : 2;
    ShowMethod(o.DownloadMethod);
}

void fFileDownload::ShowTaskCounts() {
    Panel[3]->setText(tasks.TaskCountsText());
}

void fFileDownload::showCount() {
    Label1->setText(QStringLiteral("%1条").arg(tasks.count()));
}

QList<int> fFileDownload::selectedRows() const {
    QList<int> rows;
    for (const QModelIndex& i : ListView3->selectionModel()->selectedRows())
        rows.append(i.row() + 1);
    std::sort(rows.begin(), rows.end());
    return rows;
}

int fFileDownload::currentRow() const {
    const QModelIndex current = ListView3->currentIndex();
    return current.isValid() && tasks.count() > 0 ? current.row() + 1 : 0;
}

bool fFileDownload::mayChangeRows() {
    if (!activity.IsDownloadRunning())
        return true;
    prompter_->message(QStringLiteral("停止下载以后，才能执行此操作！"),
                       Prompter::Icon::Information);
    return false;
}

void fFileDownload::SelectAll() {
    ListView3->selectAll();
}

void fFileDownload::SelectNone() {
    ListView3->clearSelection();
}

void fFileDownload::Shuffle() {
    if (!mayChangeRows())
        return;
    ShuffleTasks(tasks, UniformPick());
    prompter_->message(QStringLiteral("随机排序完成！"), Prompter::Icon::Information);
}

void fFileDownload::AutoColumnWidths() {
    AutoSizeColumns(ListView3);
    PaintListStripes(ListView3, TaskRowHeight);
}

void fFileDownload::RequeueSelectedRows() {
    RequeueSelected(tasks, selectedRows());
}

void fFileDownload::RequeueFailed() {
    tasks.RequeueFailedTasks();
}

void fFileDownload::RequeueWebPages() {
    tasks.RequeueWebPageTasks();
}

void fFileDownload::RequeueFailedAndWeb() {
    RequeueFailedAndWebPages(tasks);
}

void fFileDownload::RequeueSmaller() {
    const auto answer = prompter_->inputText(QStringLiteral("请输入数字："));
    if (!answer)
        return;
    if (const auto limit = ParseSizeLimit(*answer))
        RequeueSmallerThan(tasks, *limit);
}

void fFileDownload::ClearSelectedRows() {
    if (mayChangeRows())
        tasks.removeTaskRows(selectedRows());
}

void fFileDownload::ClearFailedRows() {
    if (mayChangeRows())
        tasks.removeTaskRows(
            RowsWhere(tasks, [](const DownloadTask& t) { return t.state == TaskState::Failed; }));
}

void fFileDownload::ClearDoneRows() {
    if (mayChangeRows())
        tasks.removeTaskRows(
            RowsWhere(tasks, [](const DownloadTask& t) { return t.state == TaskState::Done; }));
}

void fFileDownload::ClearList() {
    if (!mayChangeRows())
        return;
    if (prompter_->askYesNo(QStringLiteral("您确定要清空列表的所有信息吗？")))
        tasks.clear();
}

void fFileDownload::DeleteWebPageFiles() {
    DeleteFilesWhere(tasks, [](const DownloadTask& t) {
        const QString type = t.type.toLower();
        return (type == u"htm" || type == u"html" || type == u"xml") && IsDoneOrFailed(t);
    });
}

void fFileDownload::DeleteFailedFiles() {
    DeleteFilesWhere(tasks, [](const DownloadTask& t) { return t.state == TaskState::Failed; });
}

void fFileDownload::CancelSelected() {
    if (activity.busy) {
        prompter_->message(QStringLiteral("停止下载后方可设置！"), Prompter::Icon::Critical);
        return;
    }
    CancelWaiting(tasks, selectedRows());
}

void fFileDownload::OpenFile() {
    if (const int row = currentRow())
        OpenTaskFile(tasks.task(row), *prompter_);
}

void fFileDownload::OpenFolder() {
    if (const int row = currentRow())
        OpenTaskFolder(tasks.task(row), *prompter_);
}

void fFileDownload::OpenInEditor() {
    if (const int row = currentRow())
        OpenTaskInTextEditor(tasks.task(row), *prompter_);
}

void fFileDownload::CopyName() {
    if (const int row = currentRow()) {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(tasks.task(row).name);
    }
}

void fFileDownload::ReplaceUrls() {
    UrlReplace dialog(tasks, prompter_.get(), this);
    dialog.exec();
}

void fFileDownload::ExportNames(bool unfinishedOnly) {
    if (tasks.count() == 0)
        return;
    const QString path = prompter_->saveFileName(QStringLiteral("导出名称"), QString(),
                                                 QStringLiteral("*.txt (*.txt)"));
    if (path.isEmpty())
        return;
    if (FileExists(path) &&
        !prompter_->askYesNo(QStringLiteral("文件已存在，要替换它吗？\n") + path))
        return;
    if (!WriteFileAtomically(path, TaskNamesText(tasks, unfinishedOnly)))
        prompter_->message(QStringLiteral("无法写入文件：") + path, Prompter::Icon::Critical);
}

void fFileDownload::CheckFiles() {
    CheckFilesExist(tasks);
}

void fFileDownload::CorrectFileTypes() {
    if (activity.IsDownloadRunning()) {
        prompter_->message(QStringLiteral("停止下载以后，才能执行此操作！"),
                           Prompter::Icon::Information);
        return;
    }
    if (tasks.count() == 0)
        return;
    const int corrected = CorrectAllRowTypes(tasks);
    prompter_->message(QStringLiteral("纠正文件类型：%1个.").arg(corrected),
                       Prompter::Icon::Information);
}

void fFileDownload::DetectChosenFile() {
    const QString path = prompter_->openFileName(QStringLiteral("打开文件判断类型"), QString(),
                                                 QStringLiteral("*.* (*)"));
    if (path.isEmpty())
        return;
    const QString type = 打开文件判断文件类型(path);
    prompter_->message(type.isEmpty() ? QStringLiteral("目前还无法判断。")
                                      : QStringLiteral("文件类型为：") + type,
                       Prompter::Icon::Information);
}

void fFileDownload::SortBy(int column) {
    // Transfers still running after the tick went off count as a run too.
    if (activity.IsDownloadRunning() || activity.busy) {
        prompter_->message(QStringLiteral("停止下载后方可排序！"), Prompter::Icon::Information);
        return;
    }
    // One order for the whole list: the first click sorts descending, each further one flips.
    sortOrder_ = sortOrder_ != Qt::DescendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    tasks.sortByColumn(column, sortOrder_);
    ListView3->horizontalHeader()->setSortIndicator(column, sortOrder_);
}

void fFileDownload::RowClicked(int row0) {
    if (row0 < 0 || row0 >= tasks.count())
        return;
    const QString path = tasks.task(row0 + 1).filePath();
    Panel[1]->setText(FileExists(path) ? path : QString());
}

void fFileDownload::RowDoubleClicked(int row0) {
    if (row0 < 0 || row0 >= tasks.count())
        return;
    const int row = row0 + 1;
    const DownloadTask& t = tasks.task(row);
    if (t.state == TaskState::Done) {
        if (FileExists(t.filePath()))
            OpenFileWithProgram(t.filePath(), *prompter_);
        else
            prompter_->message(QStringLiteral("文件不存在！"), Prompter::Icon::Critical);
    } else if (t.state == TaskState::Failed) {
        // Only a file this task wrote; a same-named one of another row stays.
        tasks.editTask(row, [](DownloadTask& task) {
            DeleteOwnedFile(task);
            task.state = TaskState::Waiting;
            task.result = TaskResult::None;
            task.size.clear();
            task.received.clear();
            task.percent.clear();
        });
    }
}

void fFileDownload::PrepareContextMenu() {
    const bool running = Timer_Down->isActive() || activity.IsDownloadRunning() || activity.busy;
    for (const char* name : {"menu清除", "menu清空", "menu全选专利列表"})
        action(QString::fromUtf8(name))->setEnabled(!running);
    action(QStringLiteral("menu停止下载"))->setEnabled(running);
}

void fFileDownload::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        showCount();
}

void fFileDownload::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (!isMinimized())
        PaintListStripes(ListView3, TaskRowHeight);
}

bool fFileDownload::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Panel[1] && event->type() == QEvent::MouseButtonRelease &&
        !Panel[1]->text().isEmpty())
        OpenUrlInBrowser(Panel[1]->text());
    return QMainWindow::eventFilter(watched, event);
}

void fFileDownload::closeEvent(QCloseEvent* event) {
    SharedOptions& o = context_.options;
    o.DuplicateNamePolicy = SelectedPolicy();
    context_.store.setText(SettingKeys::DuplicateNamePolicy(), o.DuplicateNamePolicy);
    context_.store.setInteger(SettingKeys::DownloadMethod(), o.DownloadMethod);
    const bool unfinished = activity.transferExecuting || activity.CountLoadedDownloaders() > 1 ||
                            !tasks.检测是否下载列表完毕() || Timer_Down->isActive() ||
                            activity.schedulerOn;
    if (unfinished &&
        !prompter_->askYesNo(QStringLiteral("正在下载文件或者下载没有完成，要强制关闭窗口吗？"))) {
        event->ignore();
        return;
    }
    scheduler->stopSupervisor();
    scheduler->Stop();
    SaveFormGeometry(*this, context_.store);
    context_.store.setInteger(SettingKeys::ThreadIndex(), Combo1->currentIndex());
    event->accept();
    if (!IsFormLoaded(QStringLiteral("fWebSearch"))) {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() == u"fCover")
                w->show();
        }
    }
}
