#include "tools/cache_viewer_window.h"

#include "app/app_context.h"
#include "app/browser_page.h"
#include "tools/copy_window.h"
#include "tools/window_helpers.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QVBoxLayout>

namespace {

// Entries left out of a copy named in the message at most.
constexpr int LeftOutShown = 10;

QTableView* MakeList(QWidget* parent, const QString& name, QAbstractItemModel* model) {
    auto* list = new QTableView(parent);
    list->setObjectName(name);
    list->setModel(model);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->verticalHeader()->hide();
    list->horizontalHeader()->setStretchLastSection(true);
    list->setWordWrap(false);
    return list;
}

void ConfigureViewer(BrowserCacheViewer& viewer, AppContext& context) {
    viewer.setProfile(context.profile);
    viewer.setVisitedAddresses(VisitedAddressList());
    viewer.pagesLoading = &AnyBrowserPageLoading;
}

} // namespace

bool AnyBrowserPageLoading() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget* window : windows) {
        const QList<BrowserPage*> pages = window->findChildren<BrowserPage*>();
        for (const BrowserPage* page : pages) {
            if (page->Busy())
                return true;
        }
    }
    return false;
}

QAbstractItemModel* VisitedAddressList() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget* window : windows) {
        if (window->objectName() != u"fWebSearch")
            continue;
        if (auto* list = window->findChild<QComboBox*>(QStringLiteral("Combo1")))
            return list->model();
    }
    return nullptr;
}

fIEcache::fIEcache(AppContext& context, Prompter* prompter, QWidget* parent)
    : QDialog(parent)
    , viewer(FoldersOf(context.profile))
    , context_(context)
    , prompter_(prompter, this)
    , users_(new QStandardItemModel(0, 2, this))
    , folders_(new QStandardItemModel(0, 1, this)) {
    setObjectName(QStringLiteral("fIEcache"));
    setWindowTitle(WindowCaption(QStringLiteral("IE浏览器Cookie 缓存和历史列表")));
    ConfigureViewer(viewer, context);
    users_->setHorizontalHeaderLabels({QStringLiteral("用户名"), QStringLiteral("文件夹")});
    folders_->setHorizontalHeaderLabels({QStringLiteral("文件夹")});

    ListView1 = MakeList(this, QStringLiteral("ListView1"), &viewer.files);
    ListView1->horizontalHeader()->setSectionsClickable(true);
    ListView1->horizontalHeader()->setSortIndicatorShown(false);
    ListView2 = MakeList(this, QStringLiteral("ListView2"), users_);
    ListView3 = MakeList(this, QStringLiteral("ListView3"), folders_);
    Label1 = new QLabel(viewer.status, this);
    Label1->setObjectName(QStringLiteral("Label1"));

    const QStringList captions = {
        QStringLiteral("查看我的缓存"), QStringLiteral("查看所有用户缓存"),
        QStringLiteral("删除所选文件"), QStringLiteral("全部删除"),
        QStringLiteral("复制选中..."),  QStringLiteral("关闭")};
    QList<QPushButton*> buttons;
    for (qsizetype i = 0; i < captions.size(); ++i) {
        auto* button = new QPushButton(captions.at(i), this);
        button->setObjectName(QStringLiteral("Command%1").arg(i + 1));
        buttons.append(button);
    }
    Command1 = buttons.at(0);
    Command2 = buttons.at(1);
    Command3 = buttons.at(2);
    Command4 = buttons.at(3);
    Command5 = buttons.at(4);
    Command6 = buttons.at(5);

    auto* side = new QSplitter(Qt::Vertical, this);
    side->addWidget(ListView2);
    side->addWidget(ListView3);
    auto* lists = new QSplitter(Qt::Horizontal, this);
    lists->addWidget(ListView1);
    lists->addWidget(side);
    lists->setStretchFactor(0, 3);
    lists->setStretchFactor(1, 1);
    auto* row = new QHBoxLayout;
    row->addWidget(Label1, 1);
    for (QPushButton* button : std::as_const(buttons))
        row->addWidget(button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lists, 1);
    layout->addLayout(row);
    resize(900, 560);

    connect(Command1, &QPushButton::clicked, this, [this] { ListMine(); });
    connect(Command2, &QPushButton::clicked, this, [this] { ListAllUsers(); });
    connect(Command3, &QPushButton::clicked, this, [this] { DeleteSelected(); });
    connect(Command4, &QPushButton::clicked, this, [this] { DeleteAll(); });
    connect(Command5, &QPushButton::clicked, this, [this] { CopySelected(); });
    connect(Command6, &QPushButton::clicked, this, &QDialog::reject);
    connect(ListView1->horizontalHeader(), &QHeaderView::sectionClicked, &viewer.files,
            &CacheRowModel::toggleSort);
    connect(&viewer, &BrowserCacheViewer::changed, this, &fIEcache::showLists);
    connect(&viewer, &BrowserCacheViewer::activityChanged, this, &fIEcache::showActivity);
}

fIEcache::~fIEcache() = default;

QCoro::Task<void> fIEcache::ListMine() {
    QPointer<fIEcache> self(this);
    co_await viewer.GetCacheURLList();
    if (self)
        AutoSizeColumns(ListView1);
}

QCoro::Task<void> fIEcache::ListAllUsers() {
    QPointer<fIEcache> self(this);
    co_await viewer.ListAllUsers();
    if (!self)
        co_return;
    for (QTableView* list : {ListView1, ListView2, ListView3})
        AutoSizeColumns(list);
}

void fIEcache::showLists() {
    Label1->setText(viewer.status);
    users_->setRowCount(0);
    for (const UserCacheFolder& user : std::as_const(viewer.users))
        users_->appendRow({new QStandardItem(user.user), new QStandardItem(user.folder)});
    folders_->setRowCount(0);
    for (const QString& folder : std::as_const(viewer.folders)) {
        if (!folder.isEmpty())
            folders_->appendRow(new QStandardItem(folder));
    }
}

QList<int> fIEcache::selectedRows() const {
    QList<int> rows;
    const QModelIndexList selected = ListView1->selectionModel()->selectedRows();
    for (const QModelIndex& index : selected)
        rows.append(index.row());
    return rows;
}

QCoro::Task<void> fIEcache::afterDeletion(QCoro::Task<DeletionResult> deletion) {
    QPointer<fIEcache> self(this);
    const DeletionResult result = co_await std::move(deletion);
    // What was left shows in the status line; pages that kept loading need saying.
    if (self && !result.pagesIdle)
        prompter_->message(CacheTexts::PagesBusy, Prompter::Icon::Information);
}

QCoro::Task<void> fIEcache::DeleteSelected() {
    return afterDeletion(viewer.DeleteRows(selectedRows()));
}

QCoro::Task<void> fIEcache::DeleteAll() {
    return afterDeletion(viewer.DeleteAll());
}

QCoro::Task<void> fIEcache::CopySelected() {
    QPointer<fIEcache> self(this);
    // Contents of the browser's own entries are written here; gone when the copy tool closes.
    const auto staging = std::make_shared<QTemporaryDir>();
    const QList<int> rows = selectedRows();
    const QString stagingFolder = staging->path();
    QCoro::Task<CopySources> collecting = viewer.CopySourcesOf(rows, stagingFolder);
    const CopySources sources = co_await std::move(collecting);
    if (!self)
        co_return;
    if (!sources.leftOut.isEmpty()) {
        QString text = QStringLiteral("以下 %1 个缓存项的内容经过压缩或不完整，无法按原样取出，"
                                      "未列入复制：")
                           .arg(sources.leftOut.size());
        for (const QString& address : sources.leftOut.mid(0, LeftOutShown))
            text += u'\n' + address;
        if (sources.leftOut.size() > LeftOutShown)
            text += QStringLiteral("\n……");
        prompter_->message(text, Prompter::Icon::Information);
        if (!self)
            co_return;
    }
    Form_Copy_Move::Open(sources.files, context_.store, prompter_.get(), this);
}

void fIEcache::showActivity(BrowserCacheViewer::Activity activity) {
    using Activity = BrowserCacheViewer::Activity;
    switch (activity) {
    case Activity::Idle:
        // Also when nothing was listed to show a new count.
        Label1->setText(viewer.status);
        break;
    case Activity::Listing:
        Label1->setText(QStringLiteral("正在读取..."));
        break;
    case Activity::Deleting:
        // Files of the running browser wait until no page loads.
        Label1->setText(QStringLiteral("正在删除..."));
        break;
    case Activity::Copying:
        Label1->setText(QStringLiteral("正在准备复制..."));
        break;
    }
    for (QPushButton* button : {Command1, Command2, Command3, Command4, Command5})
        button->setEnabled(activity == Activity::Idle);
}

void ShowBrowserCacheViewer(AppContext& context, Prompter* prompter, QWidget* parent) {
    fIEcache viewer(context, prompter, parent);
    viewer.exec();
}

QCoro::Task<void> ClearBrowserCache(AppContext& context, Prompter* prompter, QWidget* owner) {
    QPointer<QWidget> guard(owner);
    BrowserCacheViewer viewer(FoldersOf(context.profile));
    ConfigureViewer(viewer, context);
    co_await viewer.GetCacheURLList();
    const DeletionResult mine = co_await viewer.DeleteAll();
    co_await viewer.ListAllUsers();
    const DeletionResult all = co_await viewer.DeleteAll();
    if (!guard || !prompter)
        co_return;
    const qsizetype left = mine.left.size() + all.left.size();
    if (!mine.pagesIdle || !all.pagesIdle)
        prompter->message(CacheTexts::PagesBusy, Prompter::Icon::Information);
    else if (left > 0)
        prompter->message(CacheTexts::NotAllCleared(int(left)), Prompter::Icon::Information);
    else
        prompter->message(CacheTexts::Finished, Prompter::Icon::Information);
}
