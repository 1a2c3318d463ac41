#include "app/app_context.h"
#include "app/browser_profile.h"
#include "cache_fixture.h"
#include "download/download_window.h"
#include "fixture_server.h"
#include "scripted_prompter.h"
#include "search/search_window.h"
#include "settings/folder_history.h"
#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "test_main.h"
#include "tools/cache_viewer_window.h"
#include "tools/copy_window.h"
#include "tools/time_limits.h"
#include "tools/window_helpers.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineProfile>

namespace {

void Write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Runs check on the next modal window once it is open (within ten seconds),
// then closes it.
void OnNextModal(std::function<void(QWidget*)> check) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    const QDeadlineTimer deadline(10000);
    QObject::connect(timer, &QTimer::timeout, [timer, deadline, check = std::move(check)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal && !deadline.hasExpired())
            return;
        timer->deleteLater();
        timer->stop();
        check(modal);
        if (modal)
            modal->close();
    });
    timer->start();
}

} // namespace

class TestCacheWindows : public QObject {
    Q_OBJECT

    FixtureServer server_;
    QTemporaryDir dir_;
    QWebEngineProfile* profile_ = nullptr;
    std::unique_ptr<SettingsStore> store_;
    SharedOptions options_;
    std::unique_ptr<AppContext> context_;

private slots:
    void initTestCase() {
        TimeLimits::SetScale(0.05);
        QVERIFY(server_.start());
        server_.page(QStringLiteral("/home.html"),
                     "<html><head><title>home</title></head><body>home</body></html>");
        profile_ = CreateBrowserProfile(this);
        store_ = std::make_unique<SettingsStore>(dir_.filePath(QStringLiteral("s.ini")));
        store_->setText(SettingKeys::PromptSaveFolder(), QStringLiteral("0"));
        context_ = std::make_unique<AppContext>(AppContext{
            *store_, options_, profile_, server_.url(QStringLiteral("/home.html")), QString()});
    }

    void cleanup() { SetHomesRoot(QString::fromLatin1(SystemHomesRoot)); }

    void copyWindowControlsAndRun() {
        QVERIFY(SaveFolderHistory(
            {QStringLiteral("/one"), QStringLiteral("/ONE"), QStringLiteral("/two")},
            FolderHistoryPath()));
        SettingsStore store(dir_.filePath(QStringLiteral("copy.ini")));
        store.setText(SettingKeys::CopyOperation(), QStringLiteral("9"));
        ScriptedPrompter prompter;
        {
            Form_Copy_Move tool(store, &prompter);
            QCOMPARE(tool.windowTitle(), QStringLiteral("复制文件..."));
            QCOMPARE(tool.Combo1->count(), 2);
            QCOMPARE(tool.Combo1->currentText(), QDir::homePath());
            for (QRadioButton* option : tool.Option)
                QVERIFY(!option->isChecked());
        }
        store.setText(SettingKeys::CopyOperation(), QStringLiteral("3"));
        Form_Copy_Move tool(store, &prompter);
        QVERIFY(tool.Option.at(2)->isChecked());
        tool.Option.at(4)->click();
        QCOMPARE(tool.job().rule, 5);

        // Browse: the choice, or the text kept, always ending with "/".
        const QString target = dir_.filePath(QStringLiteral("copied"));
        QDir().mkpath(target);
        prompter.queue(target);
        tool.Command1->click();
        QCOMPARE(tool.Combo1->currentText(), target + u'/');
        tool.Combo1->setCurrentText(target);
        prompter.queue(QVariant());
        tool.Command1->click();
        QCOMPARE(tool.Combo1->currentText(), target + u'/');

        QStringList files;
        for (int i = 0; i < 3; ++i) {
            files.append(dir_.filePath(QStringLiteral("copysrc/f%1.pdf").arg(i)));
            Write(files.last(), QByteArray(200000, 'x'));
        }
        tool.setFiles(files, QStringLiteral("复制文件：3 个文件..."));
        QCOMPARE(tool.windowTitle(), QStringLiteral("复制文件：3 个文件..."));
        tool.show();
        QStringList captions;
        QStringList shownNames;
        connect(&tool.job(), &CopyJob::fileStarted, this,
                [&] { captions.append(tool.Command2->text()); });
        connect(&tool.job(), &CopyJob::currentFileChanged, this,
                [&](const QString& name) { shownNames.append(name); });
        tool.Command2->click();
        QTRY_COMPARE(prompter.messages(), QStringList{QStringLiteral("复制文件完成！")});
        QCOMPARE(captions, QStringList(3, QStringLiteral("停止")));
        QVERIFY(shownNames.contains(QStringLiteral("f1.pdf")));
        QCOMPARE(tool.Command2->text(), QStringLiteral("开始"));
        QCOMPARE(tool.ProgressBar1->value(), 0);
        QCOMPARE(tool.ProgressBar1->maximum(), 4);
        QVERIFY(tool.Label3->text().isEmpty());
        QCOMPARE(QDir(target).entryList(QDir::Files).size(), 3);
        QCOMPARE(store.text(SettingKeys::CopyOperation()), QStringLiteral("5"));
        QCOMPARE(tool.Combo1->itemText(tool.Combo1->count() - 1), target + u'/');

        // "停止": the button shows the run stopping and takes no press until the
        // file on its way is dropped; then "开始" again.
        const QString stopped = dir_.filePath(QStringLiteral("copied-stopped"));
        tool.Combo1->setCurrentText(stopped);
        QStringList states;
        const QMetaObject::Connection stopper =
            connect(&tool.job(), &CopyJob::fileStarted, this, [&](int index) {
                if (index != 1)
                    return;
                tool.Command2->click();
                states.append(tool.Command2->text() + (tool.Command2->isEnabled()
                                                           ? QStringLiteral("+")
                                                           : QStringLiteral("-")));
            });
        tool.Command2->click();
        QTRY_COMPARE(prompter.messages().size(), 2);
        disconnect(stopper);
        QCOMPARE(states, QStringList{QStringLiteral("正在停止...-")});
        QCOMPARE(tool.Command2->text(), QStringLiteral("开始"));
        QVERIFY(tool.Command2->isEnabled());
        QCOMPARE(QDir(stopped).entryList(QDir::Files | QDir::Hidden), QStringList());

        // "关闭" during a run ends it at once, without the closing message.
        const QString second = dir_.filePath(QStringLiteral("copied2"));
        tool.Combo1->setCurrentText(second);
        connect(&tool.job(), &CopyJob::fileStarted, this, [&](int index) {
            if (index == 2)
                tool.Command3->click();
        });
        tool.Command2->click();
        QTRY_VERIFY(!tool.isVisible());
        QTRY_VERIFY(!tool.job().running());
        QCOMPARE(QDir(second).entryList(QDir::Files), QStringList{QStringLiteral("f0.pdf")});
        QCOMPARE(prompter.messages().size(), 2);
        QVERIFY(tool.job().files.isEmpty());
    }

    void viewerWindowListsSortsCopiesAndDeletes() {
        QTemporaryDir dir;
        const HostileHomes t = MakeHostileHomes(dir.path());
        const QMap<QString, QString> outsideBefore = TreeSnapshot(t.outside);
        SetHomesRoot(t.homes);
        ScriptedPrompter prompter;
        fIEcache w(*context_, &prompter);
        QCOMPARE(w.windowTitle(), QStringLiteral("IE浏览器Cookie 缓存和历史列表-Quillmarsh"));
        QCOMPARE(w.Label1->text(), QStringLiteral("000"));
        QCOMPARE(w.ListView1->model()->headerData(2, Qt::Horizontal).toString(),
                 QStringLiteral("SIZE(Byte)"));

        w.Command2->click();
        QTRY_COMPARE(w.Label1->text(), QStringLiteral("共有12 个文件"));
        QCOMPARE(w.ListView2->model()->rowCount(), 1);
        QCOMPARE(w.ListView2->model()->index(0, 0).data().toString(), QStringLiteral("alice"));
        QCOMPARE(w.ListView2->model()->index(0, 1).data().toString(), t.cache + u'/');
        QCOMPARE(w.ListView3->model()->rowCount(), 7);

        // Header clicks: largest first, then smallest first, by value.
        QAbstractItemModel* files = w.ListView1->model();
        auto sizes = [files] {
            QList<qint64> out;
            for (int r = 0; r < files->rowCount(); ++r)
                out.append(files->index(r, 2).data().toLongLong());
            return out;
        };
        emit w.ListView1->horizontalHeader()->sectionClicked(2);
        QList<qint64> down = sizes();
        QVERIFY(std::is_sorted(down.rbegin(), down.rend()));
        emit w.ListView1->horizontalHeader()->sectionClicked(2);
        const QList<qint64> up = sizes();
        QVERIFY(std::is_sorted(up.begin(), up.end()));
        QCOMPARE(up.first(), down.last());

        // "复制选中...": the selected files, links left out.
        int linkRow = -1;
        int fileRow = -1;
        for (int r = 0; r < files->rowCount(); ++r) {
            const QString path = files->index(r, 3).data().toString();
            if (path.endsWith(QStringLiteral("/to-file.pdf")))
                linkRow = r;
            if (path.endsWith(QStringLiteral("/readonly.gif")))
                fileRow = r;
        }
        for (int r : {linkRow, fileRow})
            w.ListView1->selectionModel()->select(
                files->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QString copyTitle;
        OnNextModal([&](QWidget* modal) {
            QVERIFY(modal && modal->objectName() == u"Form_Copy_Move");
            copyTitle = modal->windowTitle();
        });
        w.Command5->click();
        QTRY_COMPARE(copyTitle, QStringLiteral("复制文件：1 个文件..."));
        QTRY_VERIFY(w.Command4->isEnabled());

        w.Command4->click();
        QTRY_VERIFY(w.Command4->isEnabled());
        QCOMPARE(RelativeEntries(t.cache),
                 (QStringList{QStringLiteral("cookies.txt"), QStringLiteral("sub"),
                              QStringLiteral("sub/notes.TXT")}));
        QCOMPARE(TreeSnapshot(t.outside), outsideBefore);
        // bob's and dave's caches lie behind links: named, left, and said so.
        QCOMPARE(w.Label1->text(), QStringLiteral("共有4 个文件，其中 2 个未能删除"));
        QVERIFY(prompter.shown.isEmpty());

        w.Command1->click();
        QTRY_COMPARE(w.viewer.tag, QStringLiteral("我的缓存"));
        QCOMPARE(w.Label1->text(),
                 QStringLiteral("共有%1 个文件").arg(w.ListView1->model()->rowCount()));
    }

    void viewerStaysUsableAndClosesSafely() {
        ScriptedPrompter prompter;
        // Deleting before anything is listed: the status line comes back.
        {
            fIEcache w(*context_, &prompter);
            for (QPushButton* button : {w.Command3, w.Command4}) {
                button->click();
                QTRY_VERIFY(w.Command1->isEnabled());
                QCOMPARE(w.Label1->text(), QStringLiteral("000"));
            }
        }

        // A big listing runs beside the window, which shows it is busy.
        QTemporaryDir dir;
        const QString homes = dir.filePath(QStringLiteral("homes"));
        const QString cache = homes + QStringLiteral("/alice/") + CacheFolderBelowHome();
        for (int i = 0; i < 1500; ++i)
            Write(cache + QStringLiteral("/d%1/f%2.bin").arg(i % 10).arg(i), "x");
        SetHomesRoot(homes);
        const QMap<QString, QString> before = TreeSnapshot(cache);
        {
            fIEcache w(*context_, &prompter);
            w.Command2->click();
            QCOMPARE(w.Label1->text(), QStringLiteral("正在读取..."));
            QVERIFY(!w.Command1->isEnabled() && !w.Command4->isEnabled() &&
                    w.Command6->isEnabled());
            QTRY_COMPARE(w.Label1->text(), QStringLiteral("共有1500 个文件"));
            QVERIFY(w.Command4->isEnabled());
        }

        // Closed while listing, and while a deletion waits for loading pages:
        // nothing happens afterwards, least of all a deletion.
        auto* listing = new fIEcache(*context_, &prompter);
        listing->Command2->click();
        delete listing;
        QWebEngineProfile live(QStringLiteral("WindowLive"));
        live.setCachePath(cache);
        auto* waiting = new fIEcache(*context_, &prompter);
        waiting->viewer.setProfile(&live);
        waiting->viewer.pagesLoading = [] { return true; };
        waiting->Command2->click();
        QTRY_VERIFY(waiting->Command4->isEnabled());
        waiting->Command4->click();
        QTest::qWait(200);
        QCOMPARE(waiting->Label1->text(), QStringLiteral("正在删除..."));
        delete waiting;
        // Longer than the deletion would wait for the pages.
        QTest::qWait(int(TimeLimits::Scaled(TimeLimits::CachePagesIdle).count()) + 500);
        QCOMPARE(TreeSnapshot(cache), before);
        QVERIFY(prompter.shown.isEmpty());
    }

    void clearFromBothWindowsMenus() {
        QTemporaryDir dir;
        HostileHomes t = MakeHostileHomes(dir.filePath(QStringLiteral("first")));
        QMap<QString, QString> outsideBefore = TreeSnapshot(t.outside);
        SetHomesRoot(t.homes);

        ScriptedPrompter prompter;
        QWidget start;
        fWebSearch search(*context_, &start, &prompter);
        search.setAttribute(Qt::WA_DeleteOnClose, false);
        search.show();
        QTRY_COMPARE_WITH_TIMEOUT(search.Combo1->count(), 1, 15000);

        // The viewer opens modally from the search window.
        QString viewerTitle;
        OnNextModal([&](QWidget* modal) {
            QVERIFY(modal);
            viewerTitle = modal->windowTitle();
        });
        search.findChild<QAction*>(QStringLiteral("menu查看IE浏览器缓存"))->trigger();
        QCOMPARE(viewerTitle, QStringLiteral("IE浏览器Cookie 缓存和历史列表-Quillmarsh"));

        search.findChild<QAction*>(QStringLiteral("menu清空IE浏览器缓存"))->trigger();
        QVERIFY(!IsFormLoaded(QStringLiteral("fIEcache")));
        // Caches behind links are left; the message says so instead of "done".
        QTRY_COMPARE_WITH_TIMEOUT(prompter.messages(),
                                  QStringList{QStringLiteral("浏览器缓存中有 2 个文件未能删除。")},
                                  10000);
        QCOMPARE(prompter.shown.last().icon, Prompter::Icon::Information);
        QCOMPARE(RelativeEntries(t.cache),
                 (QStringList{QStringLiteral("cookies.txt"), QStringLiteral("sub"),
                              QStringLiteral("sub/notes.TXT")}));
        QCOMPARE(TreeSnapshot(t.outside), outsideBefore);
        QCOMPARE(search.Combo1->count(), 0); // the visited addresses went too

        t = MakeHostileHomes(dir.filePath(QStringLiteral("second")));
        QVERIFY(QFile::remove(t.homes + QStringLiteral("/dave")));
        QVERIFY(QDir(t.homes + QStringLiteral("/bob")).removeRecursively());
        outsideBefore = TreeSnapshot(t.outside);
        SetHomesRoot(t.homes);
        ScriptedPrompter downloadPrompter;
        fFileDownload download(*context_, &downloadPrompter);
        download.setAttribute(Qt::WA_DeleteOnClose, false);
        download.findChild<QAction*>(QStringLiteral("menu清空IE浏览器缓存"))->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(downloadPrompter.messages(),
                                  QStringList{QStringLiteral("IE缓存清空完毕！")}, 10000);
        QVERIFY(!download.isVisible());
        QCOMPARE(RelativeEntries(t.cache),
                 (QStringList{QStringLiteral("cookies.txt"), QStringLiteral("sub"),
                              QStringLiteral("sub/notes.TXT")}));
        QCOMPARE(TreeSnapshot(t.outside), outsideBefore);
    }
};

QM_TEST_WIDGETS_MAIN(TestCacheWindows)
#include "tst_cache_windows.moc"
