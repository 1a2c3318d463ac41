#include "download/download_window.h"

#include "app/app_context.h"
#include "app/browser_view.h"
#include "app/certificate_guard.h"
#include "download/download_menus.h"
#include "download/download_options_panel.h"
#include "download/download_session.h"
#include "download/file_type.h"
#include "download/login_pane.h"
#include "download/row_file_types.h"
#include "download/site_login.h"
#include "download/task_commands.h"
#include "download/task_list_view.h"
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
#include "tools/text_utils.h"
#include "tools/window_helpers.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

fFileDownload* fFileDownload::Find() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<fFileDownload*>(w); window && !window->closing_)
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
    Picture3 = new DownloadOptionsPanel(this);
    listArea = new QStackedWidget(this);
    ListView3 = new TaskListView(tasks, listArea);
    PicWebBK = new LoginPane(context.profile, *prompter_, listArea);
    listArea->addWidget(ListView3);
    listArea->addWidget(PicWebBK);
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    layout->addWidget(Picture3);
    layout->addWidget(listArea, 1);
    setCentralWidget(central);
    buildStatusBar();
    BuildDownloadMenus(*this, menuBar());
    menu下载 = findChild<QMenu*>(QStringLiteral("menu下载"));
    connect(menu下载, &QMenu::aboutToShow, this, &fFileDownload::applyMenuStates);
    Timer_Down = &scheduler->tickTimer();
    Timer1 = &scheduler->supervisorTimer();
    connectPanel();
    connectLoginPane();
    connectScheduler();
    load();
}

fFileDownload::~fFileDownload() = default;

void fFileDownload::buildStatusBar() {
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
}

void fFileDownload::connectPanel() {
    connect(Picture3->Command26, &QPushButton::clicked, this, &fFileDownload::SwitchMethod);
    connect(Picture3->Command1, &QPushButton::clicked, this, &fFileDownload::ShowLoginPane);
    connect(&tasks, &TaskListModel::countChanged, this, &fFileDownload::showCount);
    connect(ListView3->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &fFileDownload::SortBy);
    connect(ListView3, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& i) { RowClicked(i.row()); });
    connect(ListView3, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& i) { RowDoubleClicked(i.row()); });
    connect(ListView3, &QWidget::customContextMenuRequested, this, &fFileDownload::ShowContextMenu);
}

void fFileDownload::connectLoginPane() {
    connect(PicWebBK, &LoginPane::hideRequested, this, &fFileDownload::HideLoginPane);
    connect(PicWebBK, &LoginPane::autoLoginChanged, scheduler,
            [this](bool on) { scheduler->settings.autoLogin = on; });
    BrowserPage* page = PicWebBK->Web1->browser();
    connect(new CertificateGuard(page, prompter_.get()), &CertificateGuard::StatusText, Panel[2],
            &QLabel::setText);
    connect(page, &BrowserPage::TitleChange, this, [this](const QString& title) {
        if (TrimSpaces(title).toLower() != u"about:blank")
            Panel[2]->setText(title);
    });
}

void fFileDownload::connectScheduler() {
    SchedulerHooks& h = scheduler->hooks;
    h.panel2 = [this](const QString& t) { Panel[1]->setText(t); };
    h.panel3 = [this](const QString& t) { Panel[2]->setText(t); };
    h.panel4 = [this](const QString& t) { Panel[3]->setText(t); };
    h.locate = [this](int row) { ListView3->scrollTo(tasks.index(row - 1, 0)); };
    h.runningIndicator = [this](bool on) { Picture3->RunningIndicator->setVisible(on); };
    h.startMenuEnabled = [this](bool on) {
        action(QStringLiteral("menu下载全部"))->setEnabled(on);
    };
    h.autoOptionsCleared = [this] {
        Picture3->Check3->setChecked(false);
        Picture3->Check4->setChecked(false);
    };
    h.login = [this](int) { PicWebBK->login()->Run(false); };
    h.loginRunning = [this] { return PicWebBK->login()->running(); };
    h.playSound = [](int sound) { PlayNotifySound(sound); };

    SchedulerSettings& s = scheduler->settings;
    DownloadOptionsPanel* p = Picture3;
    connect(p->Combo1, &QComboBox::currentIndexChanged, this, [&s](int i) { s.threads = i + 1; });
    connect(p->Combo2, &QComboBox::currentIndexChanged, this,
            [&s](int i) { s.intervalSeconds = std::max(0, i); });
    for (QRadioButton* option : {p->Option1, p->Option2, p->Option3})
        connect(option, &QRadioButton::toggled, this, [p, &s] { s.policy = p->SelectedPolicy(); });
    connect(p->Check3, &QCheckBox::toggled, this, [&s](bool on) { s.autoRequeue = on; });
    connect(p->Combo4, &QComboBox::currentIndexChanged, this,
            [&s](int i) { s.autoRequeueKind = std::max(0, i); });
    connect(p->Check4, &QCheckBox::toggled, this, [&s](bool on) { s.autoStart = on; });
    connect(p->Check5, &QCheckBox::toggled, this, [&s](bool on) { s.stopAfterProblems = on; });
    connect(p->Check6, &QCheckBox::toggled, this, [&s](bool on) { s.sound = on; });
    connect(action(QStringLiteral("menu自动定位到下载项")), &QAction::toggled, this,
            [&s](bool on) { s.autoLocate = on; });
    connect(p->Command4, &QPushButton::clicked, scheduler, &DownloadScheduler::Start);
    connect(p->Command31, &QPushButton::clicked, scheduler, &DownloadScheduler::Stop);
}

QAction* fFileDownload::action(const QString& objectName) const {
    return findChild<QAction*>(objectName);
}

void fFileDownload::load() {
    setWindowTitle(WindowCaption(QStringLiteral("文件下载")));
    PicWebBK->Combo3->setCurrentIndex(0);
    FitDropDownWidth(Picture3->Combo4);
    scheduler->markFinishedNow();
    SharedOptions& o = context_.options;
    o.loadForDownloadWindow(context_.store);
    ShowMethod(o.DownloadMethod);
    if (o.DownloadMethod != 1)
        Picture3->Combo1->setCurrentIndex(context_.store.integerInRange(
            SettingKeys::ThreadIndex(), 0, DownloadOptionsPanel::MaxThreads - 1));
    Picture3->selectPolicy(o.DuplicateNamePolicy);
    RestoreFormGeometry(*this, context_.store);
    Picture3->fillIntervals();
    BrowserPage* page = PicWebBK->Web1->browser();
    page->setSilent(true);
    page->Navigate(QStringLiteral("about:blank"));
    scheduler->settings.threads = Picture3->Combo1->currentIndex() + 1;
    scheduler->settings.policy = Picture3->SelectedPolicy();
    scheduler->startSupervisor();
    ShowTaskCounts();
    showCount();
}

void fFileDownload::ShowMethod(int method) {
    Picture3->ShowMethod(method);
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
    Picture3->Label1->setText(QStringLiteral("%1条").arg(tasks.count()));
}

bool fFileDownload::running() const {
    return RunInProgress(activity, Timer_Down->isActive());
}

void fFileDownload::SelectAll() {
    ListView3->selectAll();
}

void fFileDownload::SelectNone() {
    ListView3->clearSelection();
}

void fFileDownload::Shuffle() {
    if (!MayChangeRows(activity, *prompter_))
        return;
    ShuffleTasks(tasks, UniformPick());
    prompter_->message(QStringLiteral("随机排序完成！"), Prompter::Icon::Information);
}

void fFileDownload::AutoColumnWidths() {
    ListView3->autoSizeColumns();
}

void fFileDownload::RequeueSelectedRows() {
    RequeueSelected(tasks, ListView3->selectedRows());
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
    if (MayChangeRows(activity, *prompter_))
        tasks.removeTaskRows(ListView3->selectedRows());
}

void fFileDownload::ClearFailedRows() {
    ClearTasksWhere(tasks, activity, *prompter_, IsFailedTask);
}

void fFileDownload::ClearDoneRows() {
    ClearTasksWhere(tasks, activity, *prompter_, IsDoneTask);
}

void fFileDownload::ClearList() {
    ClearAllTasks(tasks, activity, *prompter_);
}

void fFileDownload::DeleteWebPageFiles() {
    DeleteFilesWhere(tasks, IsWebPageFileTask);
}

void fFileDownload::DeleteFailedFiles() {
    DeleteFilesWhere(tasks, IsFailedTask);
}

void fFileDownload::StartDownloads() {
    scheduler->Start();
}

void fFileDownload::StopDownloads() {
    scheduler->Stop();
}

void fFileDownload::CancelSelected() {
    if (activity.busy) {
        prompter_->message(QStringLiteral("停止下载后方可设置！"), Prompter::Icon::Critical);
        return;
    }
    CancelWaiting(tasks, ListView3->selectedRows());
}

void fFileDownload::OpenFile() {
    if (const int row = ListView3->currentRow())
        OpenTaskFile(tasks.task(row), *prompter_);
}

void fFileDownload::OpenFolder() {
    if (const int row = ListView3->currentRow())
        OpenTaskFolder(tasks.task(row), *prompter_);
}

void fFileDownload::OpenInEditor() {
    if (const int row = ListView3->currentRow())
        OpenTaskInTextEditor(tasks.task(row), *prompter_);
}

void fFileDownload::CopyName() {
    if (const int row = ListView3->currentRow()) {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(tasks.task(row).name);
    }
}

void fFileDownload::ReplaceUrls() {
    UrlReplace dialog(tasks, prompter_.get(), this);
    dialog.exec();
}

void fFileDownload::ExportAllNames() {
    ExportTaskNames(tasks, false, *prompter_);
}

void fFileDownload::ExportUnfinishedNames() {
    ExportTaskNames(tasks, true, *prompter_);
}

void fFileDownload::CloseWindow() {
    close();
}

void fFileDownload::ShowSearchWindow() {
    fWebSearch::Show(context_);
}

void fFileDownload::OpenOptions() {
    fOption options(context_.options, context_.store, prompter_.get(), this);
    connect(&options, &fOption::DownloadMethodChanged, this, &fFileDownload::ShowMethod);
    options.exec();
}

void fFileDownload::CheckFiles() {
    CheckFilesExist(tasks);
}

void fFileDownload::CorrectFileTypes() {
    if (!MayChangeRows(activity, *prompter_) || tasks.count() == 0)
        return;
    const int corrected = CorrectAllRowTypes(tasks);
    prompter_->message(QStringLiteral("纠正文件类型：%1个.").arg(corrected),
                       Prompter::Icon::Information);
}

void fFileDownload::ClearCache() {
    ClearBrowserCache(context_, prompter_.get(), this);
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

void fFileDownload::ShowAbout() {
    frmAbout about(this);
    about.exec();
}

void fFileDownload::ShowLoginPane() {
    listArea->setCurrentWidget(PicWebBK);
    const int row = ListView3->selectedTaskRow();
    PicWebBK->aboutToShow(row > 0 ? tasks.task(row).url : QString());
}

void fFileDownload::HideLoginPane() {
    listArea->setCurrentWidget(ListView3);
    PicWebBK->hidden();
}

void fFileDownload::SortBy(int column) {
    if (SortTasksByHeader(tasks, sortOrder_, column, running(), *prompter_))
        ListView3->horizontalHeader()->setSortIndicator(column, sortOrder_.current);
}

void fFileDownload::RowClicked(int row0) {
    if (row0 < 0 || row0 >= tasks.count())
        return;
    const QString path = tasks.task(row0 + 1).filePath();
    Panel[1]->setText(FileExists(path) ? path : QString());
}

void fFileDownload::RowDoubleClicked(int row0) {
    ActivateTask(tasks, row0 + 1, *prompter_);
}

void fFileDownload::ShowContextMenu(const QPoint& at) {
    contextMenuOpening_ = true;
    menu下载->popup(ListView3->viewport()->mapToGlobal(at));
    contextMenuOpening_ = false;
}

void fFileDownload::applyMenuStates() {
    const ListMenuStates states = ListMenuStatesFor(contextMenuOpening_, running());
    action(QStringLiteral("menu全选专利列表"))->setEnabled(states.selectAll);
    action(QStringLiteral("menu清除"))->setEnabled(states.clear);
    action(QStringLiteral("menu清空"))->setEnabled(states.clearAll);
    action(QStringLiteral("menu停止下载"))->setEnabled(states.stop);
}

void fFileDownload::Panel2Clicked() {
    const QUrl address = BrowserAddressIn(Panel[1]->text());
    if (address.isValid())
        QDesktopServices::openUrl(address);
}

void fFileDownload::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        showCount();
}

void fFileDownload::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (!isMinimized())
        ListView3->repaintStripes();
}

bool fFileDownload::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Panel[1] && event->type() == QEvent::MouseButtonRelease)
        Panel2Clicked();
    return QMainWindow::eventFilter(watched, event);
}

void fFileDownload::closeEvent(QCloseEvent* event) {
    closing_ = true;
    SharedOptions& o = context_.options;
    o.DuplicateNamePolicy = Picture3->SelectedPolicy();
    context_.store.setText(SettingKeys::DuplicateNamePolicy(), o.DuplicateNamePolicy);
    context_.store.setInteger(SettingKeys::DownloadMethod(), o.DownloadMethod);
    if (CloseNeedsQuestion(activity, tasks, Timer_Down->isActive()) &&
        !prompter_->askYesNo(QStringLiteral("正在下载文件或者下载没有完成，要强制关闭窗口吗？"))) {
        closing_ = false;
        event->ignore();
        return;
    }
    scheduler->stopSupervisor();
    PicWebBK->shutDown();
    scheduler->Stop();
    SaveFormGeometry(*this, context_.store);
    context_.store.setInteger(SettingKeys::ThreadIndex(), Picture3->Combo1->currentIndex());
    event->accept();
    if (!IsFormLoaded(QStringLiteral("fWebSearch"))) {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() == u"fCover")
                w->show();
        }
    }
}
