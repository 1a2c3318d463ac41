#include "app/app_context.h"
#include "app/browser_profile.h"
#include "app/browser_view.h"
#include "download/download_window.h"
#include "fixture_server.h"
#include "scripted_prompter.h"
#include "search/analysis_run.h"
#include "search/search_window.h"
#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "test_main.h"
#include "tools/browser_cache.h"
#include "tools/cache_folders.h"
#include "tools/time_limits.h"
#include "web_test.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineProfile>

class TestSearchWindow : public QObject {
    Q_OBJECT

    FixtureServer server_;
    QTemporaryDir dir_;
    QWebEngineProfile* profile_ = nullptr;
    std::unique_ptr<SettingsStore> store_;
    SharedOptions options_;
    std::unique_ptr<AppContext> context_;

    static QStringList comboEntries(const fWebSearch& w) {
        QStringList entries;
        for (int i = 0; i < w.Combo1->count(); ++i)
            entries << w.Combo1->itemText(i);
        return entries;
    }

private slots:
    void initTestCase() {
        QVERIFY(server_.start());
        for (const char* name : {"/home.html", "/a.html", "/b.html"}) {
            server_.page(QString::fromLatin1(name),
                         "<html><head><title>Same title</title></head><body>page</body></html>");
        }
        profile_ = CreateBrowserProfile(this);
        store_ = std::make_unique<SettingsStore>(dir_.filePath(QStringLiteral("s.ini")));
        store_->setText(SettingKeys::PromptSaveFolder(), QStringLiteral("0"));
        context_ = std::make_unique<AppContext>(AppContext{
            *store_, options_, profile_, server_.url(QStringLiteral("/home.html")), QString()});
    }

    void loadsTheHomePageAndRecordsEachAddressOnce() {
        ScriptedPrompter prompter;
        QWidget start;
        fWebSearch w(*context_, &start, &prompter);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        w.show();
        QCOMPARE(w.windowTitle(), QStringLiteral("EI数据检索分析-Quillmarsh"));
        QCOMPARE(options_.PromptSaveFolder, 0);
        QVERIFY(w.Check2->isChecked());
        QVERIFY(w.WebBrowser1->browser()->Silent());
        QVERIFY(w.flags.StopAnalysis());
        QTRY_COMPARE_WITH_TIMEOUT(comboEntries(w),
                                  QStringList{server_.url(QStringLiteral("/home.html"))}, 15000);

        BrowserPage* page = w.WebBrowser1->browser();
        QVERIFY(LoadAndWait(page, server_.url(QStringLiteral("/a.html?q=Upper"))));
        QVERIFY(LoadAndWait(page, server_.url(QStringLiteral("/a.html?q=upper"))));
        QVERIFY(LoadAndWait(page, server_.url(QStringLiteral("/b.html"))));
        QVERIFY(LoadAndWait(page, server_.url(QStringLiteral("/home.html"))));
        QTRY_COMPARE(comboEntries(w), (QStringList{server_.url(QStringLiteral("/home.html")),
                                                   server_.url(QStringLiteral("/a.html?q=Upper")),
                                                   server_.url(QStringLiteral("/b.html"))}));
        QVERIFY(w.查找Combo1(server_.url(QStringLiteral("/B.HTML"))));
        QVERIFY(!w.查找Combo1(server_.url(QStringLiteral("/c.html"))));

        // Picking an entry goes there; "清空" empties the list.
        w.Combo1->setCurrentIndex(2);
        emit w.Combo1->activated(2);
        QTRY_VERIFY(page->url().path().endsWith(QStringLiteral("/b.html")));
        w.Command1->click();
        QCOMPARE(w.Combo1->count(), 0);
        QVERIFY(!w.查找Combo1(QString()));

        // The status text of a hovered link goes to the second panel.
        emit page->linkHovered(QStringLiteral("http://hover/"));
        QCOMPARE(w.StatusPanel2->text(), QStringLiteral("http://hover/"));
    }

    void typedAddressesSwitchSilentModeByScheme() {
        ScriptedPrompter prompter;
        QWidget start;
        fWebSearch w(*context_, &start, &prompter);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        w.show();
        BrowserPage* page = w.WebBrowser1->browser();

        prompter.queue(QStringLiteral("  HTTPS://127.0.0.1:1/secure  "));
        w.OpenTypedAddress();
        QCOMPARE(prompter.shown.last().text, QStringLiteral("请输入需要打开的网址："));
        QVERIFY(!w.Check2->isChecked());
        QVERIFY(!page->Silent());
        QTRY_COMPARE(page->requestedUrl().toString(), QStringLiteral("https://127.0.0.1:1/secure"));

        prompter.queue(server_.url(QStringLiteral("/b.html")));
        w.OpenTypedAddress();
        QVERIFY(w.Check2->isChecked());
        QVERIFY(page->Silent());
        QTRY_VERIFY(page->url().path().endsWith(QStringLiteral("/b.html")));

        // Cancelled or empty: nothing loads.
        prompter.queue(QVariant());
        w.OpenTypedAddress();
        prompter.queue(QStringLiteral("   "));
        w.OpenTypedAddress();
        QTest::qWait(200);
        QVERIFY(page->url().path().endsWith(QStringLiteral("/b.html")));
        QCOMPARE(prompter.pendingAnswers(), 0);
    }

    void hiddenBrowserIsSilentAndKeepsFramedPages() {
        ScriptedPrompter prompter;
        QWidget start;
        fWebSearch w(*context_, &start, &prompter);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        server_.page(QStringLiteral("/framed.html"),
                     "<html><frameset><frame src='/a.html'></frameset></html>");
        QVERIFY(w.Web2->Silent());
        w.flags.setHiddenPageLoading(true);
        QVERIFY(LoadAndWait(w.Web2, server_.url(QStringLiteral("/framed.html"))));
        QVERIFY(!w.flags.HiddenPageLoading());
        QTRY_VERIFY(w.Web2->firstFrameReachable());
        w.Web2->Navigate(server_.url(QStringLiteral("/b.html")));
        QTest::qWait(300);
        QVERIFY(w.Web2->url().path().endsWith(QStringLiteral("/framed.html")));
        QVERIFY(LoadAndWait(w.Web2, QStringLiteral("ABOUT:BLANK")));
        QCOMPARE(Evaluate(w.Web2, QStringLiteral("String(window.alert)")).toString(),
                 QStringLiteral("null"));
    }

    void layoutMenusAndListFollowTheRules() {
        ScriptedPrompter prompter;
        QWidget start;
        fWebSearch w(*context_, &start, &prompter);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        w.resize(1000, 800);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        w.resize(100, 100);
        QTRY_VERIFY(w.width() >= 600 && w.height() >= 333);

        // A splitter dragged to the bottom edge goes back to four fifths.
        w.resize(1000, 800);
        QTRY_COMPARE(w.height(), 800);
        w.PicBar->setSizes({2000, 1});
        w.resize(1000, 801);
        QTRY_COMPARE(w.height(), 801);
        const int top = w.PicBar->y() + w.PicBar->sizes().at(0);
        QVERIFY2(qAbs(top - 801 * 4 / 5) <= 8, qPrintable(QString::number(top)));

        QStringList captions;
        for (QAction* a : w.findChildren<QAction*>()) {
            if (a->objectName().startsWith(QStringLiteral("menu")))
                captions << a->text();
        }
        for (const char16_t* c :
             {u"分析未分析项", u"分析失败项", u"分析选中项", u"分析全部", u"打开EI首页",
              u"打开指定网址...", u"后退", u"前进", u"关闭本窗口", u"清除选中项", u"清除分析成功项",
              u"清除标题含指定字符项", u"清除标题不含指定字符项", u"清空全部", u"设置",
              u"打开下载窗口", u"查看IE浏览器缓存", u"清空IE浏览器缓存", u"关于(&A)"})
            QVERIFY2(captions.contains(QString::fromUtf16(c)), qPrintable(QString::fromUtf16(c)));
        QVERIFY(!w.menuBar()->actions().contains(w.menuAdd->menuAction()));
        QVERIFY(w.findChild<QAction*>(QStringLiteral("menu清空全部")));

        // Label1 is the row count; the same link is never added twice.
        QVERIFY(w.records.加入LV1(QStringLiteral("t"), QStringLiteral("http://l/1"),
                                  QStringLiteral("pdf"), {}));
        QVERIFY(!w.records.加入LV1(QStringLiteral("u"), QStringLiteral("http://l/1"),
                                   QStringLiteral("pdf"), {}));
        QCOMPARE(w.Label1->text(), QStringLiteral("1"));
        QVERIFY(!w.PicPanPrograss->isVisible());

        // Striped rows, light green first; labels are not editable.
        QCOMPARE(w.ListView1->palette().color(QPalette::Base), QColor(231, 248, 237));
        QCOMPARE(w.ListView1->palette().color(QPalette::AlternateBase), QColor(Qt::white));
        QVERIFY(w.ListView1->alternatingRowColors());
        QCOMPARE(w.ListView1->editTriggers(), QAbstractItemView::NoEditTriggers);

        // A double click shows the record's full-text link in the browser.
        w.records.加入LV1(QStringLiteral("b"), server_.url(QStringLiteral("/b.html?from=list")),
                          QStringLiteral("pdf"), {});
        emit w.ListView1->doubleClicked(w.records.index(1, 0));
        QTRY_COMPARE(w.WebBrowser1->browser()->url().query(), QStringLiteral("from=list"));
    }

    // Every item of the window's menus is triggered and its effect seen; an item
    // without a check here fails the test, so none can sit in a menu doing nothing.
    void everyMenuItemActs() {
        TimeLimits::SetScale(0.05);
        QTemporaryDir homes; // the cache clearing reaches no real home folder
        SetHomesRoot(homes.path());
        ScriptedPrompter prompter;
        QWidget start;
        start.setObjectName(QStringLiteral("fCover"));
        fWebSearch w(*context_, &start, &prompter);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        w.chooseFolder = [this] { options_.FolderChooserCancelled = false; };
        w.show();
        BrowserPage* page = w.WebBrowser1->browser();
        const QUrl home(server_.url(QStringLiteral("/home.html")));
        QTRY_COMPARE_WITH_TIMEOUT(page->url(), home, 15000);

        // Records whose landing pages offer no PDF: each one analysed fails at once.
        for (const char* title : {"Alpha", "Bravo", "Charlie", "Delta"}) {
            const QString path =
                QStringLiteral("/www.sciencedirect.com/menu/") + QString::fromLatin1(title);
            server_.page(path, "<html><body>no pdf here</body></html>");
            w.records.加入LV1(QString::fromLatin1(title), server_.url(path), QStringLiteral("pdf"),
                              QString());
        }
        w.records.setStatus(2, QStringLiteral("失败"));
        w.records.setStatus(3, QStringLiteral("成功"));
        w.records.setStatus(4, QStringLiteral("成功"));
        const auto analysed = [this] {
            QStringList titles;
            for (const QString& line : std::as_const(server_.log)) {
                const qsizetype at = line.indexOf(QStringLiteral("/menu/"));
                if (at >= 0)
                    titles << line.mid(at + 6);
            }
            titles.sort();
            server_.log.clear();
            return titles;
        };
        const auto runAnalysis = [&](QAction* item) {
            server_.log.clear();
            item->trigger();
            QVERIFY(w.analysis()->running());
            QTRY_VERIFY_WITH_TIMEOUT(!w.analysis()->running(), 15000);
        };
        const auto titles = [&w] {
            QStringList list;
            for (int row = 1; row <= w.records.count(); ++row)
                list << w.records.record(row).title;
            return list;
        };
        // The name of the modal dialog the item opens (closed again at once).
        const auto modal = [](QAction* item) {
            const auto shown = std::make_shared<QString>();
            QTimer::singleShot(0, [shown] {
                if (QWidget* dialog = QApplication::activeModalWidget()) {
                    *shown = dialog->objectName();
                    dialog->close();
                }
            });
            item->trigger(); // returns when the dialog is closed
            return *shown;
        };

        const QList<QPair<QString, std::function<void(QAction*)>>> checks = {
            {QStringLiteral("menu分析未分析项"),
             [&](QAction* item) {
                 runAnalysis(item);
                 QCOMPARE(analysed(), QStringList{QStringLiteral("Alpha")});
             }},
            {QStringLiteral("menu分析失败项"),
             [&](QAction* item) {
                 runAnalysis(item);
                 QCOMPARE(analysed(),
                          (QStringList{QStringLiteral("Alpha"), QStringLiteral("Bravo")}));
             }},
            {QStringLiteral("menu分析选中项"),
             [&](QAction* item) {
                 w.ListView1->selectRow(3);
                 runAnalysis(item);
                 QCOMPARE(analysed(), QStringList{QStringLiteral("Delta")});
             }},
            {QStringLiteral("menu分析全部"),
             [&](QAction* item) {
                 runAnalysis(item);
                 QCOMPARE(analysed().size(), 4);
                 for (int row = 1; row <= 4; ++row)
                     QCOMPARE(w.records.record(row).status, QStringLiteral("失败"));
             }},
            {QStringLiteral("menu清除选中项"),
             [&](QAction* item) {
                 w.ListView1->selectRow(0);
                 item->trigger();
                 QCOMPARE(titles(), (QStringList{QStringLiteral("Bravo"), QStringLiteral("Charlie"),
                                                 QStringLiteral("Delta")}));
             }},
            {QStringLiteral("menu清除分析成功项"),
             [&](QAction* item) {
                 w.records.setStatus(1, QStringLiteral("成功"));
                 item->trigger();
                 QCOMPARE(titles(),
                          (QStringList{QStringLiteral("Charlie"), QStringLiteral("Delta")}));
             }},
            {QStringLiteral("menu清除标题含指定字符项"),
             [&](QAction* item) {
                 prompter.queue(QStringLiteral("ARL"));
                 item->trigger();
                 QCOMPARE(titles(), QStringList{QStringLiteral("Delta")});
             }},
            {QStringLiteral("menu清除标题不含指定字符项"),
             [&](QAction* item) {
                 w.records.加入LV1(QStringLiteral("Echo"), QStringLiteral("http://l/echo"),
                                   QStringLiteral("pdf"), QString());
                 prompter.queue(QStringLiteral("elt"));
                 item->trigger();
                 QCOMPARE(titles(), QStringList{QStringLiteral("Delta")});
             }},
            {QStringLiteral("menu清空全部"),
             [&](QAction* item) {
                 prompter.queue(true);
                 item->trigger();
                 QCOMPARE(prompter.shown.last().text,
                          QStringLiteral("您确定要清空辛辛苦苦搜索的列表数据吗？"));
                 QCOMPARE(w.records.count(), 0);
             }},
            {QStringLiteral("menu打开指定网址..."),
             [&](QAction* item) {
                 prompter.queue(server_.url(QStringLiteral("/a.html")));
                 item->trigger();
                 QCOMPARE(prompter.shown.last().text, QStringLiteral("请输入需要打开的网址："));
                 QTRY_VERIFY(page->url().path().endsWith(QStringLiteral("/a.html")) &&
                             !page->Busy());
             }},
            {QStringLiteral("menu打开EI首页"),
             [&](QAction* item) {
                 item->trigger();
                 QTRY_VERIFY(page->url() == home && !page->Busy());
             }},
            {QStringLiteral("menu后退"),
             [&](QAction* item) {
                 item->trigger();
                 QTRY_VERIFY(page->url().path().endsWith(QStringLiteral("/a.html")) &&
                             !page->Busy());
             }},
            {QStringLiteral("menu前进"),
             [&](QAction* item) {
                 item->trigger();
                 QTRY_VERIFY(page->url() == home && !page->Busy());
             }},
            {QStringLiteral("menu设置"),
             [&](QAction* item) { QCOMPARE(modal(item), QStringLiteral("fOption")); }},
            {QStringLiteral("menu打开下载窗口"),
             [&](QAction* item) {
                 delete fFileDownload::Find(); // the one the analysis runs showed
                 QVERIFY(!fFileDownload::Find());
                 item->trigger();
                 QPointer<fFileDownload> downloads = fFileDownload::Find();
                 QVERIFY(downloads && downloads->isVisible());
                 delete downloads.data();
             }},
            {QStringLiteral("menu查看IE浏览器缓存"),
             [&](QAction* item) { QCOMPARE(modal(item), QStringLiteral("fIEcache")); }},
            {QStringLiteral("menu清空IE浏览器缓存"),
             [&](QAction* item) {
                 QVERIFY(w.Combo1->count() > 0);
                 item->trigger();
                 // The clearing runs on: its closing message comes some time later.
                 QTRY_VERIFY_WITH_TIMEOUT(!prompter.messages().isEmpty() &&
                                              prompter.messages().last() == CacheTexts::Finished,
                                          10000);
                 QCOMPARE(w.Combo1->count(), 0); // the visited addresses went with it
             }},
            {QStringLiteral("menu关于"),
             [&](QAction* item) { QCOMPARE(modal(item), QStringLiteral("frmAbout")); }},
            {QStringLiteral("menu关闭本窗口"),
             [&](QAction* item) {
                 start.hide();
                 item->trigger();
                 QVERIFY(!w.isVisible());
                 QVERIFY(w.flags.StopAddAll());
                 QVERIFY(start.isVisible());
             }},
        };

        QStringList items;
        for (QAction* a : w.findChildren<QAction*>()) {
            if (a->objectName().startsWith(QStringLiteral("menu")) && !a->menu() &&
                !a->isSeparator())
                items << a->objectName();
        }
        QStringList checked;
        for (const auto& [name, check] : checks)
            checked << name;
        items.sort();
        checked.sort();
        QCOMPARE(items, checked);
        for (const auto& [name, check] : checks) {
            QAction* item = w.findChild<QAction*>(name);
            QVERIFY2(item && item->isEnabled(), qPrintable(name));
            check(item);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QStringLiteral("menu item ") + name));
        }
        SetHomesRoot(QString::fromLatin1(SystemHomesRoot));
    }

    void theToolsMenuOpensTheDownloadWindow() {
        ScriptedPrompter prompter;
        QWidget start;
        start.setObjectName(QStringLiteral("fCover"));
        fWebSearch w(*context_, &start, &prompter);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        w.show();
        QVERIFY(!fFileDownload::Find());
        w.findChild<QAction*>(QStringLiteral("menu打开下载窗口"))->trigger();
        QPointer<fFileDownload> downloads = fFileDownload::Find();
        QVERIFY(downloads);
        QVERIFY(downloads->isVisible());
        w.findChild<QAction*>(QStringLiteral("menu打开下载窗口"))->trigger();
        QCOMPARE(fFileDownload::Find(), downloads.data()); // one download window only
        // With the search window open, closing the download window leaves the start window hidden.
        QVERIFY(downloads->close());
        QVERIFY(!start.isVisible());
        QTRY_VERIFY(downloads.isNull());
    }

    void analysisRunsFromItsControlsAndHandsOverToTheDownloadWindow() {
        TimeLimits::SetScale(0.05);
        const auto landing = [this](const QString& n, bool withPdf, int delayMs) {
            const QByteArray anchor = withPdf ? "<a href='/p/" + n.toUtf8() +
                                                    ".pdf' title='Download PDF'>Download PDF</a>"
                                              : QByteArray("<a href='/x'>Abstract</a>");
            server_.route(QStringLiteral("/www.sciencedirect.com/") + n,
                          [anchor, delayMs](const FixtureServer::Request&) {
                              FixtureServer::Response r;
                              r.body = "<html><body>" + anchor + "</body></html>";
                              r.delayMs = delayMs;
                              return r;
                          });
            return server_.url(QStringLiteral("/www.sciencedirect.com/") + n);
        };
        ScriptedPrompter prompter;
        QWidget start;
        start.setObjectName(QStringLiteral("fCover"));
        fWebSearch w(*context_, &start, &prompter);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        int chooserShown = 0;
        w.chooseFolder = [&] { // the folder question comes with each run here
            ++chooserShown;
            options_.FolderChooserCancelled = false;
        };
        w.show();

        w.Command2->click();
        QCOMPARE(prompter.messages(), QStringList{QStringLiteral("请先检索，添加到列表！")});
        QCOMPARE(prompter.shown.last().icon, Prompter::Icon::Information);
        QVERIFY(w.Command2->isEnabled());
        QVERIFY(!fFileDownload::Find());

        w.records.加入LV1(QStringLiteral("One"), landing(QStringLiteral("1"), true, 0),
                          QStringLiteral("pdf"), QString());
        w.records.加入LV1(QStringLiteral("Two"), landing(QStringLiteral("2"), true, 800),
                          QStringLiteral("pdf"), QString());
        w.records.加入LV1(QStringLiteral("Three"), landing(QStringLiteral("3"), false, 0),
                          QStringLiteral("pdf"), QString());
        const auto visits = [this](const char* n) {
            return int(
                server_.log
                    .filter(QStringLiteral("/www.sciencedirect.com/") + QString::fromLatin1(n))
                    .size());
        };

        // No current row: everything is analysed at once.
        QVERIFY(!w.ListView1->currentIndex().isValid());
        w.Command2->click();
        QVERIFY(w.analysis()->running());
        QVERIFY(w.PicPanPrograss->isVisible());
        QCOMPARE(w.Label11->text(), QStringLiteral("正在分析,请稍候..."));
        QVERIFY(!w.Command2->isEnabled());
        for (QAction* item : w.menuAdd->actions())
            QVERIFY(!item->isEnabled());
        // While the second page is on its way, the first PDF waits in a download
        // window that is not shown yet.
        QTRY_COMPARE(w.records.record(2).status, QStringLiteral("正在分析"));
        QPointer<fFileDownload> downloads = fFileDownload::Find();
        QVERIFY(downloads);
        QVERIFY(!downloads->isVisible());
        QCOMPARE(downloads->tasks.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!w.analysis()->running(), 15000);
        QVERIFY(downloads->isVisible());
        QCOMPARE(chooserShown, 1);
        QVERIFY(!w.PicPanPrograss->isVisible());
        QVERIFY(w.Command2->isEnabled());
        QVERIFY(w.menuAdd->actions().last()->isEnabled());
        QCOMPARE(w.records.record(1).status, QStringLiteral("成功"));
        QCOMPARE(w.records.record(2).status, QStringLiteral("成功"));
        QCOMPARE(w.records.record(3).status, QStringLiteral("失败"));
        QCOMPARE(downloads->tasks.count(), 2);
        QCOMPARE(downloads->tasks.task(2).name, QStringLiteral("Two"));

        // With a current row the "加入" menu asks which run.
        w.ListView1->setCurrentIndex(w.records.index(2, 0));
        w.Command2->click();
        QTRY_VERIFY(w.menuAdd->isVisible());
        QVERIFY(!w.analysis()->running());
        w.menuAdd->hide();
        const int twoVisits = visits("2");
        w.findChild<QAction*>(QStringLiteral("menu分析失败项"))->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!w.analysis()->running(), 15000);
        QCOMPARE(visits("3"), 2);
        QCOMPARE(visits("2"), twoVisits);

        // "停止" ends the run after the record in hand; the rest stay as they were.
        w.findChild<QAction*>(QStringLiteral("menu分析全部"))->trigger();
        QTRY_COMPARE(w.records.record(2).status, QStringLiteral("正在分析"));
        w.Command5->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w.analysis()->running(), 15000);
        QVERIFY(w.flags.StopAnalysis());
        QCOMPARE(visits("3"), 2);
        QCOMPARE(w.records.record(3).status, QStringLiteral("失败"));

        // A minimised download window comes back maximised.
        downloads->showMinimized();
        w.显示下载窗口();
        QVERIFY(downloads->windowState() & Qt::WindowMaximized);
        QVERIFY(!(downloads->windowState() & Qt::WindowMinimized));
        QVERIFY(downloads->isVisible());
        delete downloads.data(); // its queued tasks would make closing ask
    }

    void closingDuringARunShowsThePdfsFoundSoFar() {
        TimeLimits::SetScale(0.05);
        server_.page(QStringLiteral("/www.sciencedirect.com/c1"),
                     "<html><body><a href='/p/c1.pdf' title='Download PDF'>Download PDF</a>"
                     "</body></html>");
        server_.route(QStringLiteral("/www.sciencedirect.com/c2"),
                      [](const FixtureServer::Request&) {
                          FixtureServer::Response r;
                          r.body = "<html><body>late</body></html>";
                          r.delayMs = 1500;
                          return r;
                      });
        ScriptedPrompter prompter;
        QWidget start;
        auto* w = new fWebSearch(*context_, &start, &prompter);
        w->chooseFolder = [this] { options_.FolderChooserCancelled = false; };
        QPointer<fWebSearch> guard = w;
        w->show();
        w->records.加入LV1(QStringLiteral("C1"),
                           server_.url(QStringLiteral("/www.sciencedirect.com/c1")),
                           QStringLiteral("pdf"), QString());
        w->records.加入LV1(QStringLiteral("C2"),
                           server_.url(QStringLiteral("/www.sciencedirect.com/c2")),
                           QStringLiteral("pdf"), QString());
        w->Command2->click();
        QTRY_COMPARE(w->records.record(2).status, QStringLiteral("正在分析"));
        QPointer<fFileDownload> downloads = fFileDownload::Find();
        QVERIFY(downloads && !downloads->isVisible());
        QVERIFY(w->close());
        QVERIFY(downloads->isVisible());
        QVERIFY(!start.isVisible());
        QTRY_VERIFY(guard.isNull());
        QTest::qWait(1800); // the page that was awaited arrives after the window went
        QCOMPARE(downloads->tasks.count(), 1);
        delete downloads.data();
    }

    void closingBringsTheStartWindowBackUnlessDownloadsAreOpen() {
        ScriptedPrompter prompter;
        QWidget start;
        {
            auto* w = new fWebSearch(*context_, &start, &prompter);
            QPointer<fWebSearch> guard = w;
            w->show();
            QVERIFY(w->close());
            QVERIFY(w->flags.StopAddAll());
            QVERIFY(start.isVisible());
            QTRY_VERIFY(guard.isNull()); // deleted on close
        }
        start.hide();
        QWidget downloads;
        downloads.setObjectName(QStringLiteral("fFileDownload"));
        {
            auto* w = new fWebSearch(*context_, &start, &prompter);
            w->show();
            w->close();
            QVERIFY(!start.isVisible());
        }
    }
};

QM_TEST_WIDGETS_MAIN(TestSearchWindow)
#include "tst_search_window.moc"
