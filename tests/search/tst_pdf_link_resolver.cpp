#include "app/browser_page.h"
#include "app/resource_blocker.h"
#include "fixture_server.h"
#include "search/pdf_link_resolver.h"
#include "search/search_flags.h"
#include "test_main.h"
#include "tools/time_limits.h"
#include "web_test.h"

#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineProfile>

using namespace std::chrono;

// The hidden browser's part: loading a full-text link in a real page and
// reading the landing page it ends at.
class TestPdfLinkResolver : public QObject {
    Q_OBJECT

    FixtureServer server_;
    QWebEngineProfile profile_; // off the record
    std::unique_ptr<BrowserPage> web2_;
    SearchFlags flags_;
    std::unique_ptr<PdfLinkResolver> resolver_;

    QString resolve(const QString& link) { return Await(resolver_->获取PDF下载网址(link)); }
    static QByteArray Landing(const QByteArray& anchor, const QByteArray& head = {}) {
        return "<html><head>" + head + "</head><body><p>Article</p>" + anchor + "</body></html>";
    }
    milliseconds limit() const { return TimeLimits::Scaled(TimeLimits::LandingPageLoad); }

private slots:
    void initTestCase() {
        TimeLimits::SetScale(0.05); // landing pages: 90 s -> 4.5 s
        QVERIFY(server_.start());
        web2_ = std::make_unique<BrowserPage>(&profile_);
        PdfLinkResolver::PrepareHiddenBrowser(web2_.get());
        resolver_ = std::make_unique<PdfLinkResolver>(web2_.get(), flags_);
        flags_.setStopAnalysis(false);

        server_.page(QStringLiteral("/www.sciencedirect.com/a.html"),
                     Landing("<a href='/pdf/sd.pdf' title='Download PDF'>Download PDF (1 MB)</a>"));
        server_.page(QStringLiteral("/link.springer.com/b.html"),
                     Landing("<a href='/pdf/sp.pdf'>Download PDF"
                             "<span class='download-pdf-size'>(2 MB)</span></a>"));
        server_.route(QStringLiteral("/sciencemag.org/never.html"),
                      [](const FixtureServer::Request&) {
                          FixtureServer::Response r;
                          r.body = "<html><body><a href='/pdf/partial.pdf'>Full Text (PDF)</a>" +
                                   QByteArray(4096, ' ') +
                                   "<a href='/pdf/late.pdf'>Full Text (PDF)</a></body>";
                          r.stallAfter = 4000;
                          return r;
                      });
    }

    void init() { flags_.setStopAnalysis(false); }

    void redirectsAreJudgedByTheFinalAddress() {
        // An HTTP chain from an address no rule knows to a publisher's page.
        server_.redirect(QStringLiteral("/go/1"), QStringLiteral("/go/2"));
        server_.redirect(QStringLiteral("/go/2"), QStringLiteral("/www.sciencedirect.com/a.html"),
                         301);
        QCOMPARE(resolve(server_.url(QStringLiteral("/go/1?x=1&amp;y=2"))),
                 server_.url(QStringLiteral("/pdf/sd.pdf")));
        QVERIFY(server_.log.contains(QStringLiteral("GET /go/1?x=1&y=2"))); // "&amp;" read as "&"
        QVERIFY(web2_->url().path().endsWith(QStringLiteral("/a.html")));
        // The next record's link leads to the same landing page: its load
        // completed there, so the page is this record's as well.
        server_.redirect(QStringLiteral("/go/3"), QStringLiteral("/www.sciencedirect.com/a.html"));
        QCOMPARE(resolve(server_.url(QStringLiteral("/go/3"))),
                 server_.url(QStringLiteral("/pdf/sd.pdf")));
        QCOMPARE(resolve(server_.url(QStringLiteral("/www.sciencedirect.com/a.html"))),
                 server_.url(QStringLiteral("/pdf/sd.pdf")));

        // A refresh that leads on, at once or after a moment.
        server_.page(QStringLiteral("/refresh0.html"),
                     "<html><head><meta http-equiv='refresh' content='0; url=/link.springer.com/"
                     "b.html'></head><body><a href='/x.pdf'>Download PDF</a></body></html>");
        server_.page(QStringLiteral("/refresh1.html"),
                     "<html><head><meta http-equiv='Refresh' content='1;URL=/www.sciencedirect.com/"
                     "a.html'></head><body>moving</body></html>");
        QCOMPARE(resolve(server_.url(QStringLiteral("/refresh0.html"))),
                 server_.url(QStringLiteral("/pdf/sp.pdf")));
        QCOMPARE(resolve(server_.url(QStringLiteral("/refresh1.html"))),
                 server_.url(QStringLiteral("/pdf/sd.pdf")));

        // A frame page stays as loaded: its refresh is not waited for, its metadata is read.
        server_.page(QStringLiteral("/framed.html"),
                     "<html><head><meta http-equiv='refresh' content='2; url=/nowhere'>"
                     "<meta name='citation_pdf_url' content='/pdf/framed.pdf'></head>"
                     "<frameset><frame src='/link.springer.com/b.html'></frameset></html>");
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(resolve(server_.url(QStringLiteral("/framed.html"))),
                 server_.url(QStringLiteral("/pdf/framed.pdf")));
        QVERIFY2(clock.elapsed() < 1800, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!flags_.HiddenPageLoading());

        // Moves within the page (fragment, history entries) are no new loads to wait for.
        server_.page(QStringLiteral("/www.sciencedirect.com/moves.html"),
                     "<html><body><a href='/pdf/moves.pdf' title='Download PDF'>Download PDF</a>"
                     "<script>location.hash = 'top'; history.replaceState(null, '', '?v=2');"
                     "window.addEventListener('load', function () { location.hash = 'end'; });"
                     "</script></body></html>");
        clock.restart();
        QCOMPARE(resolve(server_.url(QStringLiteral("/www.sciencedirect.com/moves.html"))),
                 server_.url(QStringLiteral("/pdf/moves.pdf")));
        QVERIFY2(clock.elapsed() < 1800, qPrintable(QString::number(clock.elapsed())));
    }

    // Only the load of the address asked for ends the wait: a finish reported
    // late for the blank page or an earlier landing page does not.
    void lateFinishesOfOtherPagesDoNotEndTheWait() {
        server_.route(QStringLiteral("/slow/www.sciencedirect.com/c.html"),
                      [](const FixtureServer::Request&) {
                          FixtureServer::Response r;
                          r.body = Landing("<a href='/pdf/c.pdf' title='download pdf'>"
                                           "Download PDF</a>");
                          r.delayMs = 700;
                          return r;
                      });
        const QUrl earlier = web2_->url();
        int fakes = 0;
        QTimer late;
        connect(&late, &QTimer::timeout, this, [&] {
            if (!web2_->url().path().contains(QStringLiteral("/slow/")))
                return;
            emit web2_->DocumentComplete(QUrl(QStringLiteral("about:blank")));
            emit web2_->DocumentComplete(earlier);
            ++fakes;
        });
        late.start(50);
        QCOMPARE(resolve(server_.url(QStringLiteral("/slow/www.sciencedirect.com/c.html"))),
                 server_.url(QStringLiteral("/pdf/c.pdf")));
        QVERIFY(fakes >= 2);
    }

    void aPageThatNeverFinishesIsReadAsFarAsItCame() {
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(resolve(server_.url(QStringLiteral("/sciencemag.org/never.html"))),
                 server_.url(QStringLiteral("/pdf/partial.pdf")));
        const auto took = milliseconds(clock.elapsed());
        QVERIFY2(took >= limit() - milliseconds(200) && took < limit() + milliseconds(4000),
                 qPrintable(QString::number(took.count())));
        QVERIFY(flags_.HiddenPageLoading()); // the load never completed

        // A stop request cuts the wait at once; the rules still read the page.
        QTimer::singleShot(400, this, [this] { flags_.setStopAnalysis(true); });
        clock.restart();
        QCOMPARE(resolve(server_.url(QStringLiteral("/sciencemag.org/never.html"))),
                 server_.url(QStringLiteral("/pdf/partial.pdf")));
        QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
        // Stopped before anything began: no wait at all, and the page still shown
        // (another record's) is not read for this link.
        clock.restart();
        QCOMPARE(resolve(server_.url(QStringLiteral("/www.sciencedirect.com/a.html"))), QString());
        QVERIFY(clock.elapsed() < 2000);
        flags_.setStopAnalysis(false);
    }

    void onlyWhatTheRulesReadIsLoaded() {
        server_.page(
            QStringLiteral("/heavy/link.springer.com/h.html"),
            "<html><head><link rel='stylesheet' href='/h/style.css'>"
            "<style>@font-face{font-family:F;src:url(/h/font.woff2)} body{font-family:F}</style>"
            "<script src='/h/app.js'></script></head><body>text<img src='/h/figure.png'>"
            "<video src='/h/movie.mp4' autoplay></video></body></html>");
        server_.page(QStringLiteral("/h/style.css"), "body{background:url(/h/back.png)}");
        server_.route(QStringLiteral("/h/app.js"), [](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "text/javascript";
            // Scripts still run: the link exists only once this has.
            r.body = "document.addEventListener('DOMContentLoaded', function () {"
                     "var a = document.createElement('a'); a.href = '/pdf/heavy.pdf';"
                     "a.innerHTML = 'Download PDF <i class=\"download-pdf-size\">1 MB</i>';"
                     "document.body.appendChild(a); });";
            return r;
        });
        const auto served = [this](const QString& part) {
            return int(server_.log.filter(part).size());
        };
        const int refusedBefore = web2_->resourceBlocker()->refused();
        QCOMPARE(resolve(server_.url(QStringLiteral("/heavy/link.springer.com/h.html"))),
                 server_.url(QStringLiteral("/pdf/heavy.pdf")));
        QCOMPARE(served(QStringLiteral("/h/app.js")), 1);
        for (const char* refused : {"/h/style.css", "/h/font.woff2", "/h/figure.png", "/h/movie"})
            QVERIFY2(served(QString::fromLatin1(refused)) == 0, refused);
        QVERIFY(web2_->resourceBlocker()->refused() >= 3);
        QVERIFY(web2_->resourceBlocker()->refused() > refusedBefore);

        // A visible browser on the same profile loads everything.
        BrowserPage visible(&profile_);
        QVERIFY(
            LoadAndWait(&visible, server_.url(QStringLiteral("/heavy/link.springer.com/h.html"))));
        QTRY_VERIFY(served(QStringLiteral("/h/style.css")) == 1);
        QTRY_VERIFY(served(QStringLiteral("/h/figure.png")) == 1);
        QVERIFY(!visible.resourceBlocker());
    }

    void linksThatAreNoDocumentsAreNotLoaded() {
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(resolve(QStringLiteral("javascript:document.title='x'")), QString());
        QCOMPARE(resolve(QStringLiteral("data:text/html,<a href=x>Download PDF</a>")), QString());
        QVERIFY(clock.elapsed() < limit().count());
        QVERIFY(web2_->title() != u"x");

        // Nor local files, whether the link names one or the landing page does.
        QTemporaryDir dir;
        QFile local(dir.filePath(QStringLiteral("www.mdpi.com.html")));
        QVERIFY(local.open(QIODevice::WriteOnly));
        local.write("<html><head><meta name='citation_pdf_url' content='" +
                    server_.url(QStringLiteral("/pdf/local.pdf")).toUtf8() + "'></head></html>");
        local.close();
        const QString localLink = QUrl::fromLocalFile(local.fileName()).toString();
        QCOMPARE(resolve(localLink), QString());
        QVERIFY(!web2_->url().isLocalFile());
        server_.page(QStringLiteral("/www.mdpi.com/local.html"),
                     Landing({}, "<meta name='citation_pdf_url' content='file:///etc/hostname'>"));
        QCOMPARE(resolve(server_.url(QStringLiteral("/www.mdpi.com/local.html"))), QString());
        // A file named on the command line is the user's own choice.
        resolver_->setLocalFilesAllowed(true);
        QCOMPARE(resolve(localLink), server_.url(QStringLiteral("/pdf/local.pdf")));
        resolver_->setLocalFilesAllowed(false);
    }

    // Links that the engine turns into downloads, or that have no content, end
    // the wait at once; a link that is the PDF itself gives its own address.
    void linksThatBecomeDownloads() {
        server_.route(QStringLiteral("/dl/attachment"), [](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "application/octet-stream";
            r.headers.append(qMakePair(QByteArray("Content-Disposition"),
                                       QByteArray("attachment; filename=data.bin")));
            r.body = "not a page";
            return r;
        });
        server_.route(QStringLiteral("/dl/empty"), [](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.status = 204;
            return r;
        });
        server_.route(QStringLiteral("/dl/paper.pdf"), [](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "application/pdf";
            r.body = "%PDF-1.4\n%%EOF\n";
            return r;
        });
        server_.redirect(QStringLiteral("/dl/doi/1"), QStringLiteral("/dl/paper.pdf"));
        const QList<QPair<QString, QString>> links = {
            {"/dl/attachment", ""},
            {"/dl/empty", ""},
            {"/dl/paper.pdf", "/dl/paper.pdf"},
            {"/dl/doi/1", "/dl/paper.pdf"},
        };
        for (const auto& [link, pdf] : links) {
            QElapsedTimer clock;
            clock.start();
            QCOMPARE(resolve(server_.url(link)), pdf.isEmpty() ? QString() : server_.url(pdf));
            QVERIFY2(clock.elapsed() < limit().count() / 2, qPrintable(link));
            QVERIFY(!flags_.HiddenPageLoading());
        }
    }

    // A script that never stops blocks its renderer, which the next pages of the
    // same site would share: the page is let go of, and a stop is not held up.
    void aHungPageHoldsUpNeitherTheStopNorTheNextRecords() {
        const QByteArray sd = "<a href='/pdf/sd-next.pdf' title='Download PDF'>Download PDF</a>";
        server_.page(QStringLiteral("/www.sciencedirect.com/next.html"), Landing(sd));
        // One never finishes loading, one hangs once loaded.
        server_.page(QStringLiteral("/www.sciencedirect.com/spin.html"),
                     Landing(sd + "<script>for (;;) {}</script>"));
        server_.page(QStringLiteral("/www.sciencedirect.com/spin-later.html"),
                     Landing(sd + "<script>onload = function () { setTimeout(function () {"
                                  "for (;;) {} }, 0); };</script>"));
        const QString next = server_.url(QStringLiteral("/www.sciencedirect.com/next.html"));
        const QString found = server_.url(QStringLiteral("/pdf/sd-next.pdf"));

        QTimer::singleShot(400, this, [this] { flags_.setStopAnalysis(true); });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(resolve(server_.url(QStringLiteral("/www.sciencedirect.com/spin.html"))),
                 QString());
        QVERIFY2(clock.elapsed() < TimeLimits::StoppedPageAnswer.count() + 1500,
                 qPrintable(QString::number(clock.elapsed())));
        flags_.setStopAnalysis(false);
        clock.restart();
        QCOMPARE(resolve(next), found);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));

        clock.restart();
        QCOMPARE(resolve(server_.url(QStringLiteral("/www.sciencedirect.com/spin-later.html"))),
                 QString());
        QVERIFY2(clock.elapsed() < TimeLimits::ScriptAnswerLimit().count() + 2000,
                 qPrintable(QString::number(clock.elapsed())));
        clock.restart();
        QCOMPARE(resolve(next), found);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!web2_->Unresponsive());
    }

    // Text hidden by a style sheet (a label for screen readers) reads as part of
    // the link's text while style sheets are refused: the page is read again with them.
    void textHiddenByAStyleSheetIsReadWithIt() {
        server_.page(QStringLiteral("/iopscience.iop.org/article/hidden.html"),
                     Landing("<a class='btn pdf-button-main' href='/pdf/iop.pdf'>Article PDF"
                             "<span class='sr-only'> (opens in a new tab)</span></a>"
                             "<img src='/iop/figure.png'>",
                             "<link rel='stylesheet' href='/iop/site.css'>"));
        server_.route(QStringLiteral("/iop/site.css"), [](const FixtureServer::Request&) {
            FixtureServer::Response r;
            r.contentType = "text/css";
            r.body = ".sr-only { display: none }";
            return r;
        });
        QCOMPARE(resolve(server_.url(QStringLiteral("/iopscience.iop.org/article/hidden.html"))),
                 server_.url(QStringLiteral("/pdf/iop.pdf")));
        QCOMPARE(server_.log.filter(QStringLiteral("/iop/site.css")).size(), 1);
        QCOMPARE(server_.log.filter(QStringLiteral("/iop/figure.png")).size(), 0);
        // The next page is read without style sheets again.
        QVERIFY(LoadAndWait(web2_.get(), server_.url(QStringLiteral("/iopscience.iop.org/"
                                                                    "article/hidden.html"))));
        QCOMPARE(server_.log.filter(QStringLiteral("/iop/site.css")).size(), 1);
    }

    // A landing page of 5.5 MB with 100,000 links: slow to read, not hung, and
    // read within the time limit (a busy machine may take most of it).
    void aHugePageIsReadInTime() {
        QByteArray body;
        body.reserve(6'000'000);
        for (int i = 0; i < 100'000; ++i)
            body += "<li><a href='/ref/" + QByteArray::number(i) + "'>Reference " +
                    QByteArray::number(i) + " of the article</a></li>\n";
        body += "<a href='/pdf/huge.pdf' title='Download PDF'>Download PDF</a>";
        server_.page(QStringLiteral("/www.sciencedirect.com/huge.html"), Landing(body));
        TimeLimits::SetScale(1);
        QElapsedTimer clock;
        clock.start();
        const QString pdf =
            resolve(server_.url(QStringLiteral("/www.sciencedirect.com/huge.html")));
        const qint64 took = clock.elapsed();
        TimeLimits::SetScale(0.05);
        QCOMPARE(pdf, server_.url(QStringLiteral("/pdf/huge.pdf")));
        QVERIFY(!web2_->Unresponsive());
        QVERIFY2(took < TimeLimits::LandingPageLoad.count(), qPrintable(QString::number(took)));
    }

    // The snapshot keeps what the rules read, whatever the document type, and
    // no element's text or markup grows without bound.
    void theSnapshotKeepsWhatTheRulesReadWithinBounds() {
        server_.route(
            QStringLiteral("/www.sciencedirect.com/x.xhtml"), [](const FixtureServer::Request&) {
                FixtureServer::Response r;
                r.contentType = "application/xhtml+xml";
                r.body = "<?xml version='1.0'?><html xmlns='http://www.w3.org/1999/xhtml'>"
                         "<head><meta name='citation_title' content='t'/></head><body>"
                         "<a href='/pdf/x.pdf' title='Download PDF'>Download PDF</a>"
                         "</body></html>";
                return r;
            });
        QCOMPARE(resolve(server_.url(QStringLiteral("/www.sciencedirect.com/x.xhtml"))),
                 server_.url(QStringLiteral("/pdf/x.pdf")));

        // Reading 300 KB of text is slow on a busy machine; the scaled-down limits
        // leave it too little time there, and bounds, not time, are what is tested.
        const double scale = TimeLimits::Scale();
        TimeLimits::SetScale(1);
        const auto scaledAgain = qScopeGuard([scale] { TimeLimits::SetScale(scale); });
        const QByteArray padding = "<b class='pad'>" + QByteArray(300'000, 'x') + "</b>";
        server_.page(QStringLiteral("/link.springer.com/big.html"),
                     Landing("<a href='/ref/1'>Reference " + padding +
                             "</a>"
                             "<a href='/pdf/big.pdf'>Download PDF"
                             "<span class='download-pdf-size'>(1 MB)</span></a>"));
        QCOMPARE(resolve(server_.url(QStringLiteral("/link.springer.com/big.html"))),
                 server_.url(QStringLiteral("/pdf/big.pdf")));
        const std::optional<PageDocument> doc = Await(
            web2_->Document({QStringLiteral("A")}, {QStringLiteral("A"), QStringLiteral("META")}));
        QVERIFY(doc);
        const QList<int> anchors = doc->getElementsByTagName(QStringLiteral("A"));
        QCOMPARE(anchors.size(), 2);
        const PageElement& big = doc->at(anchors.first());
        QCOMPARE(big.innerHTML.size(), SnapshotTextLimit);
        QVERIFY(big.innerHTML.startsWith(QStringLiteral("Reference <b class=\"pad\">xxx")));
        QVERIFY(big.innerText.size() <= SnapshotTextLimit);
        QCOMPARE(doc->at(anchors.last()).href, server_.url(QStringLiteral("/pdf/big.pdf")));
    }

    void aResolverGoneDuringTheWaitEndsQuietly() {
        auto resolver = std::make_unique<PdfLinkResolver>(web2_.get(), flags_);
        bool ended = false;
        QString result = QStringLiteral("unset");
        QCoro::connect(
            resolver->获取PDF下载网址(server_.url(QStringLiteral("/sciencemag.org/never.html"))),
            this, [&](const QString& pdf) {
                ended = true;
                result = pdf;
            });
        QTest::qWait(300);
        resolver.reset();
        QTRY_VERIFY_WITH_TIMEOUT(ended, int(limit().count()) + 5000);
        QCOMPARE(result, QString());
    }
};

QM_TEST_GUI_MAIN(TestPdfLinkResolver)
#include "tst_pdf_link_resolver.moc"
