#include "app/browser_page.h"
#include "app/resource_blocker.h"
#include "fixture_server.h"
#include "search/pdf_link_resolver.h"
#include "search/search_flags.h"
#include "test_main.h"
#include "tools/time_limits.h"
#include "web_test.h"

#include <QElapsedTimer>
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
