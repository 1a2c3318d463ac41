#include "app/browser_page.h"
#include "download/task_list.h"
#include "fixture_server.h"
#include "search/analysis_run.h"
#include "search/pdf_link_resolver.h"
#include "search/record_list.h"
#include "search/search_flags.h"
#include "settings/shared_options.h"
#include "test_main.h"
#include "tools/time_limits.h"
#include "web_test.h"

#include <QTimer>
#include <QWebEngineProfile>

// The analysis run over a record list, with the real hidden browser and a task
// list standing in for the download window.
class TestAnalysisRun : public QObject {
    Q_OBJECT

    FixtureServer server_;
    QWebEngineProfile profile_;
    std::unique_ptr<BrowserPage> web2_;
    SearchFlags flags_;
    std::unique_ptr<PdfLinkResolver> resolver_;
    SharedOptions options_;
    RecordListModel records_;
    TaskListModel tasks_;
    std::unique_ptr<AnalysisRun> run_;
    int shown_ = 0;
    int chooserShown_ = 0;
    std::function<void()> chooser_;
    QHash<QString, QString> pdfOf_; // landing page name -> PDF path ("" for none)

    // A landing page whose PDF can be changed between runs.
    QString landing(const QString& name, const QString& pdf) {
        pdfOf_.insert(name, pdf);
        const QString path = QStringLiteral("/www.sciencedirect.com/") + name + u'/';
        server_.route(path, [this, name](const FixtureServer::Request&) {
            FixtureServer::Response r;
            const QString pdf = pdfOf_.value(name);
            r.body = "<html><body><h1>" + name.toUtf8() + "</h1>" +
                     (pdf.isEmpty() ? QByteArray("<a href='/x'>Abstract</a>")
                                    : "<a href='" + pdf.toUtf8() +
                                          "' title='Download PDF'>Download PDF (1 MB)</a>") +
                     "</body></html>";
            return r;
        });
        return server_.url(path);
    }
    int visits(const QString& name) const {
        return int(
            server_.log.filter(QStringLiteral("/www.sciencedirect.com/") + name + u'/').size());
    }
    QStringList statuses() const {
        QStringList s;
        for (int row = 1; row <= records_.count(); ++row)
            s << records_.record(row).status;
        return s;
    }
    void run(AnalysisVariant variant) { Await(run_->RunAnalysis(variant)); }

private slots:
    void initTestCase() {
        TimeLimits::SetScale(0.05);
        QVERIFY(server_.start());
        web2_ = std::make_unique<BrowserPage>(&profile_);
        PdfLinkResolver::PrepareHiddenBrowser(web2_.get());
        resolver_ = std::make_unique<PdfLinkResolver>(web2_.get(), flags_);
    }

    void init() {
        records_.clear();
        tasks_.clear();
        shown_ = 0;
        chooserShown_ = 0;
        chooser_ = {};
        options_ = SharedOptions();
        options_.DownloadFolder = QStringLiteral("/downloads/");
        run_ = std::make_unique<AnalysisRun>(records_, flags_, *resolver_, options_);
        run_->handOver = [this](const FoundPdf& pdf) {
            tasks_.appendTask(pdf.url, pdf.name, pdf.type, pdf.folder);
        };
        run_->showDownloads = [this] { ++shown_; };
        run_->chooseFolder = [this] {
            ++chooserShown_;
            if (chooser_)
                chooser_();
        };
    }

    void variantsPickTheirRecordsAndSamePdfsQueueOnce() {
        records_.加入LV1(QStringLiteral("Alpha"),
                         landing(QStringLiteral("a"), QStringLiteral("/pdf/a.pdf")),
                         QStringLiteral("pdf"), QStringLiteral("/alpha/"));
        records_.加入LV1(QStringLiteral("Beta"), landing(QStringLiteral("b"), QString()),
                         QStringLiteral("pdf"), QString());
        records_.加入LV1(QStringLiteral("Gamma"),
                         landing(QStringLiteral("c"), QStringLiteral("/pdf/c.pdf")),
                         QStringLiteral("caj"), QString());
        // Another link to the same PDF.
        records_.加入LV1(QStringLiteral("Delta"),
                         landing(QStringLiteral("d"), QStringLiteral("/pdf/a.pdf")),
                         QStringLiteral("pdf"), QString());

        run(AnalysisVariant::Unanalysed);
        QCOMPARE(statuses(), (QStringList{"成功", "失败", "成功", "成功"}));
        QCOMPARE(tasks_.count(), 2);
        const DownloadTask& a =
            tasks_.task(tasks_.rowOf(server_.url(QStringLiteral("/pdf/a.pdf"))));
        QCOMPARE(a.name, QStringLiteral("Alpha"));
        QCOMPARE(a.folder, QStringLiteral("/alpha/"));
        QCOMPARE(a.state, TaskState::Waiting);
        const DownloadTask& c =
            tasks_.task(tasks_.rowOf(server_.url(QStringLiteral("/pdf/c.pdf"))));
        QCOMPARE(c.type, QStringLiteral("caj"));
        QCOMPARE(c.folder, QStringLiteral("/downloads/")); // no folder of its own
        QCOMPARE(shown_, 1);
        QVERIFY(flags_.StopAnalysis());
        QVERIFY(!run_->running());

        // Nothing unanalysed left: no page loads, the download window still comes up.
        const int served = int(server_.log.size());
        run(AnalysisVariant::Unanalysed);
        QCOMPARE(int(server_.log.size()), served);
        QCOMPARE(shown_, 2);

        // Failed ones again, and only those; a queued task is left as it is.
        tasks_.setState(1, TaskState::Done);
        pdfOf_.insert(QStringLiteral("b"), QStringLiteral("/pdf/b.pdf"));
        const int aVisits = visits(QStringLiteral("a"));
        run(AnalysisVariant::Failed);
        QCOMPARE(visits(QStringLiteral("a")), aVisits);
        QCOMPARE(statuses(), (QStringList{"成功", "成功", "成功", "成功"}));
        QCOMPARE(tasks_.count(), 3);
        QCOMPARE(tasks_.task(1).state, TaskState::Done);

        run_->isSelected = [](int row) { return row == 3; };
        const int cVisits = visits(QStringLiteral("c"));
        run(AnalysisVariant::Selected);
        QCOMPARE(visits(QStringLiteral("c")), cVisits + 1);
        QCOMPARE(visits(QStringLiteral("a")), aVisits);

        run(AnalysisVariant::All);
        QCOMPARE(visits(QStringLiteral("a")), aVisits + 1);
        QCOMPARE(tasks_.count(), 3);
        QCOMPARE(shown_, 5);
    }

    void namesComeFromTitlesOrAddresses() {
        records_.加入LV1(QStringLiteral("Line\r\nbreak: a/b"),
                         landing(QStringLiteral("n1"), QStringLiteral("/files/12345.pdf")),
                         QStringLiteral("pdf"), QString());
        records_.加入LV1(QStringLiteral("Second"),
                         landing(QStringLiteral("n2"), QStringLiteral("/files/download")),
                         QStringLiteral("pdf"), QString());
        run(AnalysisVariant::All);
        QCOMPARE(tasks_.task(1).name, QStringLiteral("Linebreak ab"));
        QCOMPARE(tasks_.task(2).name, QStringLiteral("Second"));
        tasks_.clear();
        options_.UseOriginalFileName = true;
        run(AnalysisVariant::All);
        QCOMPARE(tasks_.task(1).name, QStringLiteral("12345"));
        QCOMPARE(tasks_.task(2).name, QStringLiteral("download"));
    }

    void theFolderQuestionComesWithTheRunWhenNotAskedBefore() {
        records_.加入LV1(QStringLiteral("One"),
                         landing(QStringLiteral("f1"), QStringLiteral("/pdf/f1.pdf")),
                         QStringLiteral("pdf"), QString());
        // Asked at harvest time: no question now.
        options_.PromptSaveFolder = 1;
        options_.FolderChooserCancelled = true;
        run(AnalysisVariant::All);
        QCOMPARE(chooserShown_, 0);
        QVERIFY(!options_.FolderChooserCancelled);
        QCOMPARE(tasks_.count(), 1);

        options_.PromptSaveFolder = 0;
        chooser_ = [this] {
            options_.DownloadFolder = QStringLiteral("/chosen/");
            options_.FolderChooserCancelled = false;
        };
        tasks_.clear();
        run(AnalysisVariant::All);
        QCOMPARE(chooserShown_, 1);
        QCOMPARE(tasks_.task(1).folder, QStringLiteral("/chosen/"));

        // Cancelled: no record touched, the download window still comes up.
        chooser_ = [this] { options_.FolderChooserCancelled = true; };
        tasks_.clear();
        const int served = int(server_.log.size());
        run(AnalysisVariant::All);
        QCOMPARE(int(server_.log.size()), served);
        QCOMPARE(tasks_.count(), 0);
        QCOMPARE(shown_, 3);

        // An empty list asks nothing.
        records_.clear();
        run(AnalysisVariant::All);
        QCOMPARE(chooserShown_, 2);
        QCOMPARE(shown_, 4);
    }

    void stopEndsTheRunAfterTheRecordInHand() {
        server_.route(
            QStringLiteral("/www.sciencedirect.com/slow/"), [](const FixtureServer::Request&) {
                FixtureServer::Response r;
                r.body = "<html><body><a href='/pdf/slow.pdf' title='Download PDF'>Download PDF</a>"
                         "</body></html>";
                r.delayMs = 1500;
                return r;
            });
        records_.加入LV1(QStringLiteral("Slow"),
                         server_.url(QStringLiteral("/www.sciencedirect.com/slow/")),
                         QStringLiteral("pdf"), QString());
        records_.加入LV1(QStringLiteral("Next"),
                         landing(QStringLiteral("s2"), QStringLiteral("/pdf/s2.pdf")),
                         QStringLiteral("pdf"), QString());
        records_.加入LV1(QStringLiteral("Last"),
                         landing(QStringLiteral("s3"), QStringLiteral("/pdf/s3.pdf")),
                         QStringLiteral("pdf"), QString());
        records_.setStatus(3, QStringLiteral("失败"));

        bool ended = false;
        QCoro::connect(run_->RunAnalysis(AnalysisVariant::All), this, [&] { ended = true; });
        QVERIFY(run_->running());
        QVERIFY(!flags_.StopAnalysis());
        QTRY_COMPARE(records_.record(1).status, QStringLiteral("正在分析"));
        // A second run while this one is active is refused.
        bool secondEnded = false;
        QCoro::connect(run_->RunAnalysis(AnalysisVariant::All), this, [&] { secondEnded = true; });
        QVERIFY(secondEnded);
        QTimer::singleShot(300, this, [this] { flags_.setStopAnalysis(true); });
        QTRY_VERIFY_WITH_TIMEOUT(ended, 5000);
        QCOMPARE(records_.record(1).status, QStringLiteral("失败")); // its page never came
        QCOMPARE(records_.record(2).status, QString());
        QCOMPARE(records_.record(3).status, QStringLiteral("失败"));
        QCOMPARE(visits(QStringLiteral("s2")), 0);
        QCOMPARE(shown_, 1);
        QVERIFY(!run_->running());
    }

    void aRunGoneDuringAWaitEndsQuietly() {
        records_.加入LV1(QStringLiteral("Slow"),
                         server_.url(QStringLiteral("/www.sciencedirect.com/slow/")),
                         QStringLiteral("pdf"), QString());
        bool ended = false;
        QCoro::connect(run_->RunAnalysis(AnalysisVariant::All), this, [&] { ended = true; });
        QTest::qWait(200);
        run_.reset();
        flags_.setStopAnalysis(true);
        QTRY_VERIFY_WITH_TIMEOUT(ended, 5000);
        QCOMPARE(shown_, 0);
        QCOMPARE(records_.record(1).status, QStringLiteral("正在分析"));
    }
};

QM_TEST_GUI_MAIN(TestAnalysisRun)
#include "tst_analysis_run.moc"
