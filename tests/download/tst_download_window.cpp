#include "app/app_context.h"
#include "app/browser_profile.h"
#include "download/download_options_panel.h"
#include "download/download_window.h"
#include "download/part_file.h"
#include "download/progress_delegate.h"
#include "download/task_list_view.h"
#include "download/url_replace_dialog.h"
#include "fixture_server.h"
#include "scripted_prompter.h"
#include "settings/options_dialog.h"
#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "test_main.h"
#include "tools/time_limits.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineProfile>

namespace {

// Answers the next modal dialog of type T with answer, as soon as it shows.
template <typename T> void AnswerModal(std::function<void(T*)> answer) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            poll->deleteLater();
            answer(dialog);
        }
    });
    poll->start(10);
}

// Records what the desktop was asked to open.
class UrlCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.append(url); }
};

} // namespace
#include <functional>

class TestDownloadWindow : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QWebEngineProfile* profile_ = nullptr;
    std::unique_ptr<SettingsStore> store_;
    SharedOptions options_;
    std::unique_ptr<AppContext> context_;

    QString folder() const { return dir_.path() + u'/'; }

    void write(const QString& name, const QByteArray& bytes) {
        QFile f(folder() + name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

private slots:
    void initTestCase() {
        profile_ = CreateBrowserProfile(this);
        store_ = std::make_unique<SettingsStore>(dir_.filePath(QStringLiteral("s.ini")));
        context_ = std::make_unique<AppContext>(
            AppContext{*store_, options_, profile_, QString(), QString()});
    }

    void firstOpeningUsesTheDefaultsAndAnEmptyListClosesQuietly() {
        ScriptedPrompter prompter;
        QWidget cover;
        cover.setObjectName(QStringLiteral("fCover"));
        auto* w = new fFileDownload(*context_, &prompter);
        QPointer<fFileDownload> guard = w;
        QCOMPARE(fFileDownload::Find(), w);
        QCOMPARE(w->windowTitle(), QStringLiteral("文件下载-Quillmarsh"));
        QVERIFY(w->windowState() & Qt::WindowMaximized);
        QCOMPARE(w->Picture3->Label7->text(), QStringLiteral("下载方式：2"));
        QVERIFY(w->Picture3->Combo1->isEnabled());
        QCOMPARE(w->Picture3->Combo1->currentText(), QStringLiteral("3"));
        QVERIFY(w->Picture3->Option3->isChecked());
        QCOMPARE(w->Picture3->Combo2->count(), 601);
        QCOMPARE(w->Picture3->Combo2->currentText(), QStringLiteral("0"));
        QCOMPARE(w->Picture3->Combo4->currentText(), QStringLiteral("出错项"));
        QVERIFY(w->Timer1->isActive());
        QVERIFY(!w->Timer_Down->isActive());
        QCOMPARE(w->Panel[3]->text(), QStringLiteral("总数:0 正在下载:0 等待:0 已完成:0 失败:0"));
        w->show();
        w->tasks.appendTask(QStringLiteral("http://h/a"), QStringLiteral("a"),
                            QStringLiteral("pdf"), folder());
        QCOMPARE(w->Picture3->Label1->text(), QStringLiteral("1条"));
        QTRY_COMPARE(w->Panel[3]->text(),
                     QStringLiteral("总数:1 正在下载:0 等待:1 已完成:0 失败:0"));
        w->tasks.clear();

        QVERIFY(w->close()); // nothing to ask
        QVERIFY(prompter.shown.isEmpty());
        QVERIFY(cover.isVisible()); // no search window open
        QTRY_VERIFY(guard.isNull());
    }

    void closingWithAWaitingRowAsksAndStillStoresTheChoices() {
        ScriptedPrompter prompter;
        auto* w = new fFileDownload(*context_, &prompter);
        w->show();
        w->tasks.appendTask(QStringLiteral("http://h/w"), QStringLiteral("w"),
                            QStringLiteral("pdf"), folder());
        w->Picture3->Option1->setChecked(true);
        w->Picture3->Command26->click();
        QCOMPARE(w->Picture3->Label7->text(), QStringLiteral("下载方式：1"));
        QVERIFY(!w->Picture3->Combo1->isEnabled());

        prompter.queue(false);
        QVERIFY(!w->close());
        QCOMPARE(prompter.shown.last().text,
                 QStringLiteral("正在下载文件或者下载没有完成，要强制关闭窗口吗？"));
        QVERIFY(w->isVisible());
        QCOMPARE(store_->text(SettingKeys::DuplicateNamePolicy()), QStringLiteral("跳过"));
        QCOMPARE(store_->text(SettingKeys::DownloadMethod()), QStringLiteral("1"));

        w->showNormal();
        w->setWindowState(Qt::WindowNoState);
        prompter.queue(true);
        QVERIFY(w->close());
        QCOMPARE(store_->text(SettingKeys::GeometryResolution(QStringLiteral("fFileDownload")))
                     .contains(u'*'),
                 true);
        QCOMPARE(store_->text(SettingKeys::ThreadIndex()), QStringLiteral("0"));

        // The next opening reads them back.
        ScriptedPrompter again;
        auto* next = new fFileDownload(*context_, &again);
        QVERIFY(next->Picture3->Option1->isChecked());
        QCOMPARE(next->Picture3->Label7->text(), QStringLiteral("下载方式：1"));
        QVERIFY(!next->Picture3->Combo1->isEnabled());
        next->Picture3->Command26->click();
        QVERIFY(next->Picture3->Combo1->isEnabled());
        QCOMPARE(next->Picture3->Combo1->currentText(), QStringLiteral("1"));
        QVERIFY(next->close());
    }

    // While the window asks whether it may close, the analysis may hand tasks
    // over: they go to a window of their own, not to the one about to go.
    void tasksHandedOverDuringTheCloseQuestionAreKept() {
        struct HandingOver : ScriptedPrompter {
            std::function<void()> duringQuestion;
            bool askYesNo(const QString& text, const QString& title) override {
                if (duringQuestion)
                    duringQuestion();
                return ScriptedPrompter::askYesNo(text, title);
            }
        };
        for (const bool closes : {true, false}) {
            HandingOver prompter;
            QPointer<fFileDownload> closing = new fFileDownload(*context_, &prompter);
            closing->tasks.appendTask(QStringLiteral("http://h/old"), QStringLiteral("old"),
                                      QStringLiteral("pdf"), folder());
            QPointer<fFileDownload> handedTo;
            prompter.duringQuestion = [&] {
                handedTo = fFileDownload::Find();
                if (!handedTo)
                    handedTo = new fFileDownload(*context_, nullptr);
                handedTo->tasks.appendTask(QStringLiteral("http://h/new"), QStringLiteral("new"),
                                           QStringLiteral("pdf"), folder());
            };
            prompter.queue(closes);
            QCOMPARE(closing->close(), closes);
            QVERIFY(handedTo);
            QVERIFY(handedTo != closing);
            if (closes)
                QTRY_VERIFY(!closing);
            else
                QCOMPARE(closing->tasks.count(), 1); // refused: it stays as it was
            QVERIFY(handedTo);
            QCOMPARE(handedTo->tasks.count(), 1);
            QCOMPARE(handedTo->tasks.task(1).url, QStringLiteral("http://h/new"));
            QVERIFY(fFileDownload::Find());
            handedTo->tasks.clear();
            delete handedTo.data();
            if (closing) {
                closing->tasks.clear();
                QVERIFY(closing->close());
                QTRY_VERIFY(!closing);
            }
        }
    }

    void headerSortingAndTheRunGuards() {
        ScriptedPrompter prompter;
        fFileDownload w(*context_, &prompter);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        for (const char* n : {"b", "a", "c"})
            w.tasks.appendTask(QStringLiteral("http://h/") + QLatin1String(n),
                               QString::fromLatin1(n), QStringLiteral("pdf"), folder());
        w.tasks.setCell(1, TaskListModel::SizeColumn, QStringLiteral("10"));
        w.tasks.setCell(2, TaskListModel::SizeColumn, QStringLiteral("9"));
        w.tasks.setCell(3, TaskListModel::SizeColumn, QStringLiteral("100"));

        w.SortBy(TaskListModel::SizeColumn); // first click: descending
        QCOMPARE(w.sortOrder(), Qt::DescendingOrder);
        QCOMPARE(w.tasks.task(1).size, QStringLiteral("100"));
        QCOMPARE(w.tasks.task(3).size, QStringLiteral("9"));
        w.SortBy(TaskListModel::NameColumn); // another header: ascending
        QCOMPARE(w.tasks.task(1).name, QStringLiteral("a"));

        w.activity.schedulerOn = true;
        w.SortBy(TaskListModel::NameColumn);
        QCOMPARE(prompter.messages().last(), QStringLiteral("停止下载后方可排序！"));
        QCOMPARE(w.tasks.task(1).name, QStringLiteral("a"));
        w.ShowContextMenu({2, 2});
        QVERIFY(!w.action(QStringLiteral("menu清空"))->isEnabled());
        QVERIFY(!w.action(QStringLiteral("menu清除"))->isEnabled());
        QVERIFY(w.action(QStringLiteral("menu停止下载"))->isEnabled());
        w.menu下载->hide();

        // Guarded commands refuse while downloads run.
        w.ClearList();
        w.Shuffle();
        w.ClearDoneRows();
        QCOMPARE(prompter.messages().count(QStringLiteral("停止下载以后，才能执行此操作！")), 3);
        QCOMPARE(prompter.shown.last().icon, Prompter::Icon::Information);
        QCOMPARE(w.tasks.count(), 3);
        w.activity = DownloadActivity{};
        w.activity.loadedDownloaders = 2;
        w.ClearSelectedRows();
        QCOMPARE(prompter.messages().count(QStringLiteral("停止下载以后，才能执行此操作！")), 4);
        // Downloads still running after the tick went off (the problem rule) refuse
        // sorting and the destructive menu items just the same.
        w.SortBy(TaskListModel::TypeColumn);
        QCOMPARE(prompter.messages().last(), QStringLiteral("停止下载后方可排序！"));
        QCOMPARE(w.tasks.task(1).name, QStringLiteral("a"));
        w.ShowContextMenu({2, 2});
        QVERIFY(!w.action(QStringLiteral("menu清空"))->isEnabled());
        w.menu下载->hide();
        w.activity = DownloadActivity{};
        w.ShowContextMenu({2, 2});
        QVERIFY(w.action(QStringLiteral("menu清空"))->isEnabled());
        QVERIFY(!w.action(QStringLiteral("menu停止下载"))->isEnabled());
        w.menu下载->hide();

        w.Shuffle();
        QCOMPARE(prompter.messages().last(), QStringLiteral("随机排序完成！"));
        prompter.queue(false);
        w.ClearList();
        QCOMPARE(prompter.shown.last().text, QStringLiteral("您确定要清空列表的所有信息吗？"));
        QCOMPARE(w.tasks.count(), 3);
        prompter.queue(true);
        w.ClearList();
        QCOMPARE(w.tasks.count(), 0);
        QCOMPARE(w.Picture3->Label1->text(), QStringLiteral("0条"));

        w.activity.busy = true;
        w.CancelSelected();
        QCOMPARE(prompter.messages().last(), QStringLiteral("停止下载后方可设置！"));
        w.activity = DownloadActivity{};
        w.close();
    }

    void rowClicksOpenOrRequeue() {
        ScriptedPrompter prompter;
        fFileDownload w(*context_, &prompter);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        w.tasks.appendTask(QStringLiteral("http://h/f"), QStringLiteral("failed"),
                           QStringLiteral("pdf"), folder());
        w.tasks.appendTask(QStringLiteral("http://h/d"), QStringLiteral("done"),
                           QStringLiteral("pdf"), folder());
        w.tasks.setState(1, TaskState::Failed);
        w.tasks.setCell(1, TaskListModel::SizeColumn, QStringLiteral("100"));
        w.tasks.setCell(1, TaskListModel::PercentColumn, QStringLiteral("40%"));
        w.tasks.setState(2, TaskState::Done);
        // What a cut download leaves: its part and resume record beside the name,
        // nothing under the name itself.
        const QString part =
            PartPathFor(folder() + QStringLiteral("failed.pdf"), QStringLiteral("http://h/f"));
        write(QFileInfo(part).fileName(), "partial");
        QVERIFY(WritePartMeta(part, {QStringLiteral("http://h/f"), "\"v\"", {}, 100}));
        w.tasks.editTask(1, [&part](DownloadTask& t) { t.partPath = part; });

        w.RowClicked(0);
        QCOMPARE(w.Panel[1]->text(), QString());
        write(QStringLiteral("done.pdf"), "finished");
        w.RowClicked(1);
        QCOMPARE(w.Panel[1]->text(), folder() + QStringLiteral("done.pdf"));
        QFile::remove(folder() + QStringLiteral("done.pdf"));

        // A failed row named like a finished one: the finished row's file stays.
        w.tasks.appendTask(QStringLiteral("http://h/twin"), QStringLiteral("done"),
                           QStringLiteral("pdf"), folder());
        w.tasks.setState(3, TaskState::Failed);
        write(QStringLiteral("done.pdf"), "finished");
        w.RowDoubleClicked(2);
        QCOMPARE(w.tasks.task(3).state, TaskState::Waiting);
        QVERIFY(QFile::exists(folder() + QStringLiteral("done.pdf")));
        QFile::remove(folder() + QStringLiteral("done.pdf"));
        w.tasks.removeTaskRows({3});

        // Retrying a failed row continues its kept part, as a re-download does: part
        // and record stay together and the row still names them. A file under the
        // row's name is not the program's (a failed download never writes there).
        write(QStringLiteral("failed.pdf"), "the user's");
        w.RowDoubleClicked(0);
        QCOMPARE(w.tasks.task(1).state, TaskState::Waiting);
        QCOMPARE(w.tasks.task(1).size, QString());
        QCOMPARE(w.tasks.task(1).percent, QString());
        QCOMPARE(w.tasks.task(1).partPath, part);
        QVERIFY(IsResumablePart(part, QStringLiteral("http://h/f")));
        QVERIFY(QFile::exists(folder() + QStringLiteral("failed.pdf")));
        QFile::remove(folder() + QStringLiteral("failed.pdf"));
        RemovePartFiles(part);

        w.RowDoubleClicked(1);
        QCOMPARE(prompter.messages().last(), QStringLiteral("文件不存在！"));
        QCOMPARE(w.tasks.task(2).state, TaskState::Done);

        // Name export: overwrite question, then the bytes.
        const QString out = folder() + QStringLiteral("names.txt");
        write(QStringLiteral("names.txt"), "old");
        prompter.queue(out);
        prompter.queue(false);
        w.ExportAllNames();
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("old"));
        f.close();
        prompter.queue(out);
        prompter.queue(true);
        w.ExportUnfinishedNames();
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("failed\r\n"));
        f.close();

        // File type commands.
        w.CorrectFileTypes();
        QCOMPARE(prompter.messages().last(), QStringLiteral("纠正文件类型：0个."));
        write(QStringLiteral("probe.bin"), "%PDF-1.5 x");
        prompter.queue(folder() + QStringLiteral("probe.bin"));
        w.DetectChosenFile();
        QCOMPARE(prompter.messages().last(), QStringLiteral("文件类型为：pdf"));
        write(QStringLiteral("plain.bin"), "just some text, nothing known");
        prompter.queue(folder() + QStringLiteral("plain.bin"));
        w.DetectChosenFile();
        QCOMPARE(prompter.messages().last(), QStringLiteral("目前还无法判断。"));
        QCOMPARE(prompter.pendingAnswers(), 0);
        w.tasks.clear();
        w.close();
    }

    void optionsDialogAnnouncesTheMethod() {
        ScriptedPrompter prompter;
        auto* w = new fFileDownload(*context_, &prompter);
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        w->show();
        options_.DownloadMethod = 2;
        // Opened from the window's menu: the method it sets shows on the window at once.
        AnswerModal<fOption>([](fOption* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("设置-Quillmarsh"));
            QVERIFY(dialog->Option2->isChecked());
            dialog->Option1->setChecked(true);
            dialog->Check1->setChecked(true);
            dialog->Text6->setText(QStringLiteral("   "));
            dialog->Text8->setText(QStringLiteral("8080"));
            dialog->Text1->setText(QStringLiteral("2.5"));
            dialog->Command1->click();
        });
        w->action(QStringLiteral("设置"))->trigger();
        QCOMPARE(w->Picture3->Label7->text(), QStringLiteral("下载方式：1"));
        QVERIFY(!w->Picture3->Combo1->isEnabled());
        QCOMPARE(prompter.messages().last(), QStringLiteral("代理服务器网址或者端口格式不对！"));
        QCOMPARE(store_->text(SettingKeys::ProxyAddress()), QString());
        QCOMPARE(store_->text(SettingKeys::ProxyEnabled()), QStringLiteral("1"));
        QCOMPARE(options_.MaxFileSizeMB, 2.5);
        QCOMPARE(store_->text(SettingKeys::MaxFileSizeMB()), QStringLiteral("2.5"));
        AnswerModal<fOption>([](fOption* dialog) {
            dialog->Option2->setChecked(true);
            dialog->Command1->click();
        });
        w->action(QStringLiteral("设置"))->trigger();
        QCOMPARE(w->Picture3->Label7->text(), QStringLiteral("下载方式：2"));
        QVERIFY(w->Picture3->Combo1->isEnabled());
        QCOMPARE(w->Picture3->Combo1->currentText(), QStringLiteral("1"));
        {
            fOption dialog(options_, *store_, &prompter);
            QSignalSpy method(&dialog, &fOption::DownloadMethodChanged);
            dialog.Check1->setChecked(false);
            dialog.Text8->setText(QStringLiteral("abc"));
            const int shown = int(prompter.messages().size());
            QVERIFY(dialog.Accept());
            QCOMPARE(int(prompter.messages().size()), shown); // proxy off: no check
            QCOMPARE(store_->text(SettingKeys::ProxyPort()), QStringLiteral("abc"));
            QCOMPARE(method.size(), 1);
            QCOMPARE(method.first().first().toInt(), 2);
        }
        {
            fOption dialog(options_, *store_, &prompter);
            QSignalSpy method(&dialog, &fOption::DownloadMethodChanged);
            dialog.Text1->setText(QStringLiteral("lots"));
            QVERIFY(!dialog.Accept());
            QCOMPARE(dialog.Text1->text(), QStringLiteral("2.5"));
            dialog.Option1->setChecked(true);
            dialog.Command2->click(); // "关闭": nothing changes
            QCOMPARE(options_.DownloadMethod, 2);
            QCOMPARE(store_->text(SettingKeys::DownloadMethod()), QStringLiteral("2"));
            QVERIFY(method.isEmpty());
        }
        delete w;
    }

    void startAndStopButtonsRunTheQueue() {
        TimeLimits::SetScale(0.01);
        FixtureServer server;
        server.setRoot(QStringLiteral(QUILLMARSH_DEMO_SITE));
        server.route(QStringLiteral("/slow.pdf"), [](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.body = QByteArray(200000, 'x').prepend("%PDF-1.4\n").append("%%EOF\n");
            r.dripBytes = 2000;
            r.dripDelayMs = 50;
            return r;
        });
        QVERIFY(server.start());
        ScriptedPrompter prompter;
        fFileDownload w(*context_, &prompter);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        w.show();
        w.Picture3->Option3->setChecked(true);
        w.tasks.appendTask(server.url(QStringLiteral("/www.sciencedirect.com/pdf/0004.pdf")),
                           QStringLiteral("one"), QStringLiteral("pdf"), folder());
        w.tasks.appendTask(server.url(QStringLiteral("/page3.html")), QStringLiteral("three"),
                           QStringLiteral("pdf"), folder());
        w.Picture3->Command4->click();
        QVERIFY(w.Timer_Down->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(w.tasks.检测是否下载列表完毕(), 20000);
        QCOMPARE(w.tasks.task(1).state, TaskState::Done);
        QCOMPARE(w.tasks.task(2).type, QStringLiteral("htm")); // a web page, found by its content
        QTRY_VERIFY(!w.Timer_Down->isActive());                // the supervisor ends the run
        QTRY_VERIFY(w.action(QStringLiteral("menu下载全部"))->isEnabled());
        QTRY_COMPARE(w.Panel[3]->text(),
                     QStringLiteral("总数:2 正在下载:0 等待:0 已完成:2 失败:0"));
        QVERIFY(w.Panel[1]->text().startsWith(QStringLiteral("完成下载:")));

        w.tasks.appendTask(server.url(QStringLiteral("/slow.pdf")), QStringLiteral("slow"),
                           QStringLiteral("pdf"), folder());
        w.action(QStringLiteral("menu下载全部"))->trigger();
        QTRY_COMPARE(w.tasks.task(3).state, TaskState::Downloading);
        QTRY_VERIFY(w.Picture3->RunningIndicator->isVisible());
        w.ClearList(); // refused while it runs
        QCOMPARE(prompter.messages().last(), QStringLiteral("停止下载以后，才能执行此操作！"));
        w.Picture3->Command31->click();
        QCOMPARE(w.tasks.task(3).state, TaskState::Failed);
        QVERIFY(!w.activity.IsDownloadRunning());
        w.tasks.clear();
        w.close();
        TimeLimits::SetScale(1);
    }

    void menusWorkOutTheirStatesWhenTheyOpen() {
        ScriptedPrompter prompter;
        fFileDownload w(*context_, &prompter);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        w.show();
        QAction* stop = w.action(QStringLiteral("menu停止下载"));
        QAction* clearAll = w.action(QStringLiteral("menu清空"));
        w.ShowContextMenu({2, 2}); // a right click on the idle list
        QVERIFY(!stop->isEnabled());
        QVERIFY(clearAll->isEnabled());
        w.menu下载->hide();
        // A run starts; the same menu opened from the menu bar offers Stop.
        w.activity.schedulerOn = true;
        w.menu下载->popup(w.mapToGlobal(QPoint(0, 0)));
        QVERIFY(stop->isEnabled());
        QVERIFY(clearAll->isEnabled()); // still refused by the running test
        w.menu下载->hide();
        w.ShowContextMenu({2, 2});
        QVERIFY(stop->isEnabled());
        QVERIFY(!clearAll->isEnabled());
        QVERIFY(!w.action(QStringLiteral("menu全选专利列表"))->isEnabled());
        w.menu下载->hide();
        w.activity = DownloadActivity{};
        w.menu下载->popup(w.mapToGlobal(QPoint(0, 0)));
        QVERIFY(clearAll->isEnabled() && stop->isEnabled());
        w.menu下载->hide();
        w.close();
    }

    void bulkCommandsKeepTheSelection() {
        ScriptedPrompter prompter;
        fFileDownload w(*context_, &prompter);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        w.show();
        const QList<TaskState> states = {TaskState::Done,   TaskState::Failed, TaskState::Waiting,
                                         TaskState::Failed, TaskState::Done,   TaskState::Waiting};
        for (int i = 0; i < states.size(); ++i) {
            const QString name(QChar(u'a' + i));
            w.tasks.appendTask(QStringLiteral("http://h/") + name, name, QStringLiteral("pdf"),
                               folder());
            w.tasks.setState(i + 1, states.at(i));
        }
        QItemSelectionModel* selection = w.ListView3->selectionModel();
        selection->select(w.tasks.index(2, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
        selection->setCurrentIndex(w.tasks.index(5, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
        const auto selectedNames = [&w] {
            QStringList names;
            for (int row : w.ListView3->selectedRows())
                names << w.tasks.task(row).name;
            return names;
        };
        const auto currentName = [&w] {
            const int row = w.ListView3->currentRow();
            return row ? w.tasks.task(row).name : QString();
        };
        QCOMPARE(selectedNames(), (QStringList{QStringLiteral("c"), QStringLiteral("f")}));
        QSignalSpy resets(&w.tasks, &QAbstractItemModel::modelReset);
        QSignalSpy changed(&w.tasks, &QAbstractItemModel::dataChanged);

        w.RequeueFailed(); // rows 2 and 4 only
        QCOMPARE(changed.size(), 2);
        QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 1);
        QCOMPARE(changed.at(1).at(0).toModelIndex().row(), 3);
        changed.clear();
        w.RequeueFailed(); // nothing left to change: nothing announced
        w.RequeueWebPages();
        w.DeleteFailedFiles();
        QVERIFY(changed.isEmpty());
        w.ClearDoneRows(); // rows 1 and 5 go
        QCOMPARE(w.tasks.count(), 4);
        QCOMPARE(selectedNames(), (QStringList{QStringLiteral("c"), QStringLiteral("f")}));
        QCOMPARE(currentName(), QStringLiteral("f"));
        w.SortBy(TaskListModel::NameColumn); // descending: f d c b
        QCOMPARE(w.tasks.task(1).name, QStringLiteral("f"));
        QCOMPARE(selectedNames(), (QStringList{QStringLiteral("f"), QStringLiteral("c")}));
        QCOMPARE(currentName(), QStringLiteral("f"));
        w.Shuffle();
        QCOMPARE(selectedNames().size(), 2);
        QVERIFY(selectedNames().contains(QStringLiteral("c")));
        QCOMPARE(currentName(), QStringLiteral("f"));
        w.CancelSelected(); // both waiting rows fail, still selected
        QCOMPARE(selectedNames().size(), 2);
        for (int row : w.ListView3->selectedRows())
            QCOMPARE(w.tasks.task(row).state, TaskState::Failed);
        w.ClearSelectedRows();
        QCOMPARE(w.tasks.count(), 2);
        QVERIFY(selectedNames().isEmpty());
        QCOMPARE(resets.size(), 0);
        w.tasks.clear();
        w.close();
    }

    void statusPanelTwoOpensOnlyWebAddresses() {
        ScriptedPrompter prompter;
        fFileDownload w(*context_, &prompter);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        w.show();
        UrlCatcher catcher;
        for (const char* scheme : {"http", "https", "file"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &catcher, "open");
        write(QStringLiteral("done.pdf"), "%PDF-1.4");
        w.tasks.appendTask(QStringLiteral("http://h/done"), QStringLiteral("done"),
                           QStringLiteral("pdf"), folder());
        w.RowClicked(0); // the task's file path shows in panel 2 ...
        QCOMPARE(w.Panel[1]->text(), folder() + QStringLiteral("done.pdf"));
        QTest::mouseClick(w.Panel[1], Qt::LeftButton); // ... and is no address to open
        w.Panel[1]->setText(QStringLiteral("完成下载:done"));
        QTest::mouseClick(w.Panel[1], Qt::LeftButton);
        QVERIFY(catcher.opened.isEmpty());
        w.Panel[1]->setText(QStringLiteral("https://example.org/paper.pdf"));
        QTest::mouseClick(w.Panel[1], Qt::LeftButton);
        QCOMPARE(catcher.opened,
                 QList<QUrl>{QUrl(QStringLiteral("https://example.org/paper.pdf"))});
        for (const char* scheme : {"http", "https", "file"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
        w.tasks.clear();
        w.close();
    }

    void runningRowsDrawTheirProgress() {
        QCOMPARE(ProgressBarDelegate::BarPercent(2, QStringLiteral("42%")), 42);
        QCOMPARE(ProgressBarDelegate::BarPercent(2, QStringLiteral("180%")), 100);
        QCOMPARE(ProgressBarDelegate::BarPercent(3, QStringLiteral("100%")), std::nullopt);
        QCOMPARE(ProgressBarDelegate::BarPercent(2, QStringLiteral("已存在，跳过")), std::nullopt);
        QCOMPARE(ProgressBarDelegate::BarPercent(2, QString()), std::nullopt);

        TaskListModel tasks;
        for (const char* n : {"running", "done"})
            tasks.appendTask(QStringLiteral("http://h/") + QLatin1String(n), QString::fromLatin1(n),
                             QStringLiteral("pdf"), folder());
        tasks.setState(1, TaskState::Downloading);
        tasks.setCell(1, TaskListModel::PercentColumn, QStringLiteral("50%"));
        tasks.setState(2, TaskState::Done);
        tasks.setCell(2, TaskListModel::PercentColumn, QStringLiteral("100%"));
        TaskListView view(tasks);
        view.resize(1200, 200);
        view.setColumnWidth(TaskListModel::PercentColumn, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QImage image = view.viewport()->grab().toImage();
        const auto colourAt = [&](int row, double share) {
            const QRect cell = view.visualRect(tasks.index(row, TaskListModel::PercentColumn));
            return QColor(image.pixel(cell.left() + int(cell.width() * share), cell.center().y()));
        };
        QCOMPARE(colourAt(0, 0.25), ProgressBarDelegate::BarColor);  // half the cell ...
        QVERIFY(colourAt(0, 0.6) != ProgressBarDelegate::BarColor);  // ... and no more
        QVERIFY(colourAt(1, 0.25) != ProgressBarDelegate::BarColor); // finished: no bar
    }

    // "删除文件 > 网页类型文件" through the window's own menu item: finished web pages
    // (any case, xml too) lose their files; PDFs, waiting rows and strangers' files stay.
    void deletingWebPageFilesTakesOnlyFinishedPages() {
        ScriptedPrompter prompter;
        fFileDownload w(*context_, &prompter);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        const struct {
            const char* name;
            const char* type;
            TaskState state;
            bool goes;
        } rows[] = {
            {"wp1", "HTML", TaskState::Done, true},    {"wp2", "xml", TaskState::Failed, true},
            {"wp3", "htm", TaskState::Done, true},     {"wp4", "pdf", TaskState::Done, false},
            {"wp5", "htm", TaskState::Waiting, false}, {"wp6", "xhtml", TaskState::Done, false},
        };
        for (const auto& r : rows) {
            const QString name = QString::fromLatin1(r.name);
            w.tasks.appendTask(QStringLiteral("http://h/") + name, name,
                               QString::fromLatin1(r.type), folder());
            const int row = w.tasks.count();
            w.tasks.setState(row, r.state);
            w.tasks.setCell(row, TaskListModel::SizeColumn, QStringLiteral("1"));
            w.tasks.editTask(row, [](DownloadTask& t) { t.savedPath = t.filePath(); });
            write(name + u'.' + QString::fromLatin1(r.type), "x");
        }
        write(QStringLiteral("wp1.pdf"), "someone else's"); // same stem, not this row's file
        w.action(QStringLiteral("menu删除网页类型文件项"))->trigger();
        for (int row = 1; row <= int(std::size(rows)); ++row) {
            const auto& r = rows[row - 1];
            const QString file =
                folder() + QString::fromLatin1(r.name) + u'.' + QString::fromLatin1(r.type);
            QVERIFY2(QFile::exists(file) != r.goes, r.name);
            QCOMPARE(w.tasks.task(row).size.isEmpty(), r.goes);
        }
        QVERIFY(QFile::exists(folder() + QStringLiteral("wp1.pdf")));
        QCOMPARE(w.tasks.count(), int(std::size(rows)));
        w.tasks.clear();
    }

    void urlReplaceDialog() {
        ScriptedPrompter prompter;
        TaskListModel tasks;
        tasks.appendTask(QStringLiteral("http://old.net/1"), QStringLiteral("1"),
                         QStringLiteral("pdf"), {});
        tasks.appendTask(QStringLiteral("http://OLD.net/2"), QStringLiteral("2"),
                         QStringLiteral("pdf"), {}, QStringLiteral("http://old.net/"));
        UrlReplace dialog(tasks, &prompter);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("网址批量替换-Quillmarsh"));
        dialog.Text1->setText(QStringLiteral("   "));
        dialog.Command1->click();
        QCOMPARE(prompter.messages().last(), QStringLiteral("请输入字符串！"));
        dialog.Text1->setText(QStringLiteral("Old.Net"));
        dialog.Text2->setText(QStringLiteral("New.Org"));
        dialog.Command1->click();
        QCOMPARE(prompter.messages().last(), QStringLiteral("全部网址替换完成！"));
        QCOMPARE(tasks.task(2).url, QStringLiteral("http://New.Org/2"));
        QCOMPARE(tasks.task(2).referer, QStringLiteral("http://New.Org/"));

        UrlReplace clash(tasks, &prompter);
        clash.Text1->setText(QStringLiteral("/2"));
        clash.Text2->setText(QStringLiteral("/1"));
        clash.Command1->click();
        QVERIFY(prompter.messages().last().contains(QStringLiteral("http://New.Org/1")));
        QCOMPARE(tasks.task(2).url, QStringLiteral("http://New.Org/2"));
    }
};

QM_TEST_WIDGETS_MAIN(TestDownloadWindow)
#include "tst_download_window.moc"
