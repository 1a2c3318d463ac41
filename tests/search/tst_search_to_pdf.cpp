#include "app/app_context.h"
#include "app/browser_profile.h"
#include "app/browser_view.h"
#include "download/download_options_panel.h"
#include "download/download_window.h"
#include "fixture_server.h"
#include "scripted_prompter.h"
#include "search/analysis_run.h"
#include "search/harvester.h"
#include "search/search_window.h"
#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "test_main.h"
#include "tools/time_limits.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QWebEngineProfile>

// From the demo site's result pages to PDF files on disk, through the real
// windows as a new user drives them.
class TestSearchToPdf : public QObject {
    Q_OBJECT

private slots:
    void addAllAnalyseAllDownload() {
        TimeLimits::SetScale(0.05);
        FixtureServer server;
        server.setRoot(QStringLiteral(QUILLMARSH_DEMO_SITE));
        QVERIFY(server.start());
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("papers/"));
        QWebEngineProfile* profile = CreateBrowserProfile(this);
        SettingsStore store(dir.filePath(QStringLiteral("s.ini")));
        SharedOptions options;
        AppContext context{store, options, profile, server.url(QStringLiteral("/index.html")), {}};

        ScriptedPrompter prompter;
        auto* w = new fWebSearch(context, nullptr, &prompter);
        QPointer<fWebSearch> search = w;
        // The folder question at harvest time (the default): the user picks a folder.
        int asked = 0;
        w->chooseFolder = [&] {
            ++asked;
            QDir().mkpath(folder);
            options.DownloadFolder = folder;
            options.FolderChooserCancelled = false;
        };
        w->show();
        QTRY_VERIFY_WITH_TIMEOUT(w->WebBrowser1->browser()->url().path() == u"/index.html" &&
                                     !w->WebBrowser1->browser()->Busy(),
                                 20000);

        w->Command4->click(); // "加入全部到列表"
        QTRY_VERIFY_WITH_TIMEOUT(!w->harvester()->running(), 60000);
        QCOMPARE(w->records.count(), 24);
        QCOMPARE(asked, 1);

        // "开始分析" with a row picked in the list: the "加入" menu, then "分析全部".
        w->ListView1->setCurrentIndex(w->records.index(0, 0));
        w->Command2->click();
        QTRY_VERIFY(w->menuAdd->isVisible());
        w->menuAdd->findChild<QAction*>(QStringLiteral("menu分析全部"))->trigger();
        w->menuAdd->hide();
        QVERIFY(w->analysis()->running());
        QTRY_VERIFY_WITH_TIMEOUT(!w->analysis()->running(), 120000);
        QCOMPARE(asked, 1); // the records carry their folder

        QPointer<fFileDownload> downloads = fFileDownload::Find();
        QVERIFY(downloads);
        QVERIFY(downloads->isVisible());
        // One record's publisher offers nothing the rules read; every other one has a PDF.
        QStringList failed;
        for (int row = 1; row <= w->records.count(); ++row) {
            const SearchRecord& r = w->records.record(row);
            if (r.status != u"成功")
                failed << QString::number(row) + u' ' + r.status;
        }
        QCOMPARE(failed, QStringList{QStringLiteral("18 失败")});
        QCOMPARE(downloads->tasks.count(), 23);

        downloads->Picture3->Command4->click(); // "开始下载"
        QTRY_VERIFY_WITH_TIMEOUT(downloads->tasks.检测是否下载列表完毕(), 120000);
        for (int row = 1; row <= downloads->tasks.count(); ++row) {
            const DownloadTask& t = downloads->tasks.task(row);
            QVERIFY2(t.state == TaskState::Done, qPrintable(t.url + u' ' + t.percent));
        }
        QStringList expected;
        for (int row = 1; row <= w->records.count(); ++row) {
            const SearchRecord& r = w->records.record(row);
            if (r.status == u"成功")
                expected << PdfSaveName(r.title, QString(), false) + QStringLiteral(".pdf");
        }
        expected.sort();
        QDir papers(folder);
        QCOMPARE(papers.entryList(QDir::Files, QDir::Name), expected);
        QVERIFY(expected.contains(
            QStringLiteral("Catalytic CO2 hydrogenation to methanol over CuZnO catalysts.pdf")));
        for (const QString& name : expected) {
            QFile f(papers.filePath(name));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QVERIFY2(f.read(5) == "%PDF-", qPrintable(name));
        }
        // The resolver saw only pages: no picture, font or style sheet of a landing page.
        QCOMPARE(server.log.filter(QStringLiteral("/assets/")).size(), 0);

        delete downloads.data();
        delete search.data();
    }
};

QM_TEST_WIDGETS_MAIN(TestSearchToPdf)
#include "tst_search_to_pdf.moc"
