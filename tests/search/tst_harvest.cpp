#include "app/app_context.h"
#include "app/browser_profile.h"
#include "app/browser_view.h"
#include "fixture_server.h"
#include "scripted_prompter.h"
#include "search/harvester.h"
#include "search/search_window.h"
#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "test_main.h"
#include "tools/time_limits.h"
#include "web_test.h"

#include <QApplication>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QWebEngineProfile>

#include <qcoro/qcorotask.h>

// Harvesting the demo site's three result pages through the real window.
class TestHarvest : public QObject {
    Q_OBJECT

    FixtureServer server_;
    QTemporaryDir dir_;
    QWebEngineProfile* profile_ = nullptr;
    std::unique_ptr<SettingsStore> store_;
    SharedOptions options_;
    std::unique_ptr<AppContext> context_;

    std::unique_ptr<fWebSearch> openWindow(ScriptedPrompter& prompter, const QString& page) {
        context_->homeUrl = server_.url(page);
        auto w = std::make_unique<fWebSearch>(*context_, nullptr, &prompter);
        // Never a modal chooser in these tests.
        w->chooseFolder = [] { QFAIL("unexpected folder chooser"); };
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        w->show();
        QSignalSpy loaded(w->WebBrowser1->browser(), &BrowserPage::DocumentComplete);
        [&] {
            QTRY_VERIFY_WITH_TIMEOUT(w->WebBrowser1->browser()->url() == QUrl(server_.url(page)) &&
                                         !w->WebBrowser1->browser()->Busy(),
                                     15000);
        }();
        return w;
    }

private slots:
    void initTestCase() {
        TimeLimits::SetScale(0.02); // 60 s load limit -> 1.2 s, 5 s settle -> 100 ms
        server_.setRoot(QStringLiteral(QUILLMARSH_DEMO_SITE));
        QVERIFY(server_.start());
        profile_ = CreateBrowserProfile(this);
        store_ = std::make_unique<SettingsStore>(dir_.filePath(QStringLiteral("s.ini")));
        store_->setText(SettingKeys::PromptSaveFolder(), QStringLiteral("0"));
        context_ = std::make_unique<AppContext>(
            AppContext{*store_, options_, profile_, QString(), QString()});
    }

    void addAllHarvestsEveryPageAndStopsAfterTheLast() {
        store_->setText(SettingKeys::PromptSaveFolder(), QStringLiteral("0"));
        ScriptedPrompter prompter;
        auto w = openWindow(prompter, QStringLiteral("/index.html"));
        w->Command4->click();
        QCOMPARE(w->Command4->text(), QStringLiteral("停止加入全部"));
        QTRY_VERIFY_WITH_TIMEOUT(!w->harvester()->running(), 30000);
        QCOMPARE(w->Command4->text(), QStringLiteral("加入全部到列表"));
        QCOMPARE(w->records.count(), 24);
        QCOMPARE(w->Label1->text(), QStringLiteral("24"));
        QCOMPARE(
            w->records.record(1).title,
            QStringLiteral(
                "Heat transfer enhancement in micro-channel heat sinks with H2O based nanofluids"));
        QCOMPARE(
            w->records.record(24).link,
            server_.url(QStringLiteral("/www.sciencedirect.com/science/article/pii/S0024.html")));
        QVERIFY(w->WebBrowser1->browser()->url().path().endsWith(QStringLiteral("/page3.html")));

        // The same pages again add nothing and keep the statuses.
        w->records.setStatus(3, QStringLiteral("成功"));
        QVERIFY(LoadAndWait(w->WebBrowser1->browser(), server_.url(QStringLiteral("/index.html"))));
        w->Command9->click();
        QTRY_VERIFY(w->Command9->isEnabled());
        QCOMPARE(w->records.count(), 24);
        QCOMPARE(w->records.record(3).status, QStringLiteral("成功"));
    }

    void stoppingWhileTheNextPageLoadsSkipsThatPage() {
        store_->setText(SettingKeys::PromptSaveFolder(), QStringLiteral("0"));
        server_.route(QStringLiteral("/page2.html"), [this](const FixtureServer::Request& r) {
            FixtureServer::Response slow = server_.staticFile(r);
            slow.delayMs = 800;
            return slow;
        });
        ScriptedPrompter prompter;
        auto w = openWindow(prompter, QStringLiteral("/index.html"));
        w->Command4->click();
        QTRY_VERIFY(w->flags.PageLoading());
        w->Command4->click(); // "停止加入全部"
        QVERIFY(w->flags.StopAddAll());
        QTRY_VERIFY_WITH_TIMEOUT(!w->harvester()->running(), 10000);
        QCOMPARE(w->records.count(), 8); // page 1 only
        QCOMPARE(w->Command4->text(), QStringLiteral("加入全部到列表"));
        server_.route(QStringLiteral("/page2.html"),
                      [this](const FixtureServer::Request& r) { return server_.staticFile(r); });
    }

    void aNextPageThatNeverLoadsEndsTheLoop() {
        store_->setText(SettingKeys::PromptSaveFolder(), QStringLiteral("0"));
        server_.page(
            QStringLiteral("/stuck.html"),
            "<html><body><div class='result'><input type='checkbox'><a href='#'>a</a><h3>Only</h3>"
            "<a title='Full text' href=\"javascript:f('/only')\"></a></div>"
            "<a href='javascript:void(0)'>next &gt;</a></body></html>");
        ScriptedPrompter prompter;
        auto w = openWindow(prompter, QStringLiteral("/stuck.html"));
        Harvester* h = w->harvester();
        const bool loaded = Await(h->下一页(QString()));
        QVERIFY(!loaded); // the click loads nothing: the (scaled) 60 s limit ends the wait
        QCOMPARE(w->records.count(), 1);
    }

    void promptedFolderGoesIntoEveryRecord() {
        store_->setText(SettingKeys::PromptSaveFolder(), QStringLiteral("1"));
        ScriptedPrompter prompter;
        auto w = openWindow(prompter, QStringLiteral("/page3.html"));
        int chooserShown = 0;
        w->chooseFolder = [&] {
            ++chooserShown;
            options_.DownloadFolder = QStringLiteral("/papers/ei/");
        };
        w->Command9->click();
        QVERIFY(!w->Command9->isEnabled());
        QTRY_VERIFY(w->Command9->isEnabled());
        QCOMPARE(chooserShown, 1);
        QCOMPARE(w->records.count(), 8);
        QCOMPARE(w->records.record(8).folder, QStringLiteral("/papers/ei/"));
        store_->setText(SettingKeys::PromptSaveFolder(), QStringLiteral("0"));
    }

    void cleanUpCommands() {
        ScriptedPrompter prompter;
        auto w = openWindow(prompter, QStringLiteral("/abstract.html"));
        for (const char* t : {"Alpha AB", "beta ab", "Gamma", "delta", "Epsilon ab"})
            w->records.加入LV1(QString::fromLatin1(t),
                               QStringLiteral("http://l/") + QString::fromLatin1(t),
                               QStringLiteral("pdf"), {});

        w->flags.setStopAnalysis(false);
        w->ClearAll();
        QCOMPARE(prompter.messages(), QStringList{QStringLiteral("正在分析，不能清除！")});
        QCOMPARE(prompter.shown.last().icon, Prompter::Icon::Critical);
        QCOMPARE(w->records.count(), 5);
        w->flags.setStopAnalysis(true);

        prompter.queue(QStringLiteral("Ab"));
        w->ClearTitles(true);
        QCOMPARE(w->records.count(), 2);
        QCOMPARE(w->Label1->text(), QStringLiteral("2"));

        prompter.queue(QStringLiteral("gam"));
        w->ClearTitles(false);
        QCOMPARE(w->records.count(), 1);
        QCOMPARE(w->records.record(1).title, QStringLiteral("Gamma"));

        prompter.queue(QString());
        w->ClearTitles(false);
        QCOMPARE(w->records.count(), 1);

        w->records.setStatus(1, QStringLiteral("成功"));
        w->records.加入LV1(QStringLiteral("Zeta"), QStringLiteral("http://l/z"),
                           QStringLiteral("pdf"), {});
        w->ClearSucceeded();
        QCOMPARE(w->records.record(1).title, QStringLiteral("Zeta"));

        w->ListView1->selectRow(0);
        w->ClearSelected();
        QCOMPARE(w->records.count(), 0);
        QCOMPARE(w->Label1->text(), QStringLiteral("0"));

        w->records.加入LV1(QStringLiteral("Eta"), QStringLiteral("http://l/e"),
                           QStringLiteral("pdf"), {});
        prompter.queue(false);
        w->ClearAll();
        QCOMPARE(prompter.shown.last().text,
                 QStringLiteral("您确定要清空辛辛苦苦搜索的列表数据吗？"));
        QCOMPARE(w->records.count(), 1);
        prompter.queue(true);
        w->ClearAll();
        QCOMPARE(w->records.count(), 0);
        QCOMPARE(w->Label1->text(), QStringLiteral("0"));
        QCOMPARE(prompter.pendingAnswers(), 0);
    }

    void exportWritesTheListAndReportsItsSize() {
        ScriptedPrompter prompter;
        auto w = openWindow(prompter, QStringLiteral("/abstract.html"));
        w->ExportRecords(); // empty list: no dialog
        QVERIFY(prompter.shown.isEmpty());

        w->records.加入LV1(QStringLiteral("标题"), QStringLiteral("http://l/1"),
                           QStringLiteral("pdf"), {});
        w->records.加入LV1(QStringLiteral("Second"), QStringLiteral("http://l/2"),
                           QStringLiteral("pdf"), {});
        w->records.setStatus(1, QStringLiteral("成功"));
        const QString path = dir_.filePath(QStringLiteral("export.txt"));
        prompter.queue(path);
        w->ExportRecords();
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray expected =
            QStringLiteral("标题-【pdf】成功\r\nSecond-【pdf】\r\n").toUtf8();
        QCOMPARE(f.readAll(), expected);
        QCOMPARE(prompter.messages().last(),
                 QStringLiteral("保存文件完毕：") +
                     QLocale().toString(expected.size() / 1024.0, 'f', 1) + QStringLiteral("KB"));
        QCOMPARE(prompter.shown.last().icon, Prompter::Icon::Information);

        // An existing file is replaced only when the user says so.
        w->records.setStatus(2, QStringLiteral("失败"));
        prompter.queue(path);
        prompter.queue(false);
        w->ExportRecords();
        QCOMPARE(prompter.shown.last().kind, QStringLiteral("yesno"));
        QVERIFY(prompter.shown.last().text.contains(path));
        const auto contents = [&path] {
            QFile g(path);
            return g.open(QIODevice::ReadOnly) ? g.readAll() : QByteArray();
        };
        QCOMPARE(contents(), expected);
        QCOMPARE(prompter.messages().size(), 1);

        prompter.queue(QString()); // cancelled
        w->ExportRecords();
        QCOMPARE(prompter.messages().size(), 1);

        prompter.queue(path);
        prompter.queue(true);
        w->ExportRecords();
        QVERIFY(contents().endsWith(QStringLiteral("Second-【pdf】失败\r\n").toUtf8()));

        prompter.queue(dir_.filePath(QStringLiteral("no/such/folder/x.txt")));
        w->ExportRecords();
        QVERIFY(prompter.messages().last().startsWith(QStringLiteral("保存文件失败")));
        QCOMPARE(prompter.shown.last().icon, Prompter::Icon::Critical);
    }

    // Closing the window, or deleting it outright, while "加入全部到列表" waits
    // for the next page ends the run there: it finishes (no coroutine left
    // suspended), asks for no further page and keeps nothing of the window.
    void closingTheWindowDuringAWaitEndsIt() {
        store_->setText(SettingKeys::PromptSaveFolder(), QStringLiteral("0"));
        server_.route(QStringLiteral("/page2.html"), [this](const FixtureServer::Request& r) {
            FixtureServer::Response slow = server_.staticFile(r);
            slow.delayMs = 600;
            return slow;
        });
        for (const bool closeFirst : {true, false}) {
            ScriptedPrompter prompter;
            auto w = openWindow(prompter, QStringLiteral("/index.html"));
            QPointer<Harvester> harvester = w->harvester();
            const auto ended = std::make_shared<bool>(false);
            // Started as the button starts it, but here the test sees it end.
            QCoro::connect(w->AddAllPages(), this, [ended] { *ended = true; });
            QTRY_VERIFY(w->flags.PageLoading());
            QTRY_VERIFY(server_.log.contains(QStringLiteral("GET /page2.html")));
            QVERIFY(!*ended);
            QCOMPARE(w->records.count(), 8);
            server_.log.clear();
            if (closeFirst) {
                QVERIFY(w->close());
                QVERIFY(w->flags.StopAddAll());
            }
            w.reset();
            QVERIFY(harvester.isNull());
            QTRY_VERIFY_WITH_TIMEOUT(*ended, 5000);
            // Past the time the page would have needed: no further page was asked
            // for. (The browser engine may repeat the request that was in flight when
            // its connection closed; that is not the run going on.)
            QTest::qWait(1000);
            const QStringList pages = server_.log.filter(QStringLiteral("/page"));
            QVERIFY2(pages.filter(QStringLiteral("/page2.html")) == pages,
                     qPrintable(server_.log.join(u' ')));
        }
        server_.route(QStringLiteral("/page2.html"),
                      [this](const FixtureServer::Request& r) { return server_.staticFile(r); });
    }
};

QM_TEST_WIDGETS_MAIN(TestHarvest)
#include "tst_harvest.moc"
