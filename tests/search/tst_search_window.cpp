#include "app/app_context.h"
#include "app/browser_profile.h"
#include "app/browser_view.h"
#include "download/download_window.h"
#include "fixture_server.h"
#include "scripted_prompter.h"
#include "search/search_window.h"
#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "test_main.h"
#include "web_test.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
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
