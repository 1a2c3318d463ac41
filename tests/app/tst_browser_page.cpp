#include "app/browser_page.h"
#include "app/browser_profile.h"
#include "app/browser_view.h"
#include "app/load_watch.h"
#include "fixture_server.h"
#include "test_main.h"
#include "tools/time_limits.h"
#include "web_test.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineProfile>

class TestBrowserPage : public QObject {
    Q_OBJECT

    FixtureServer server_;
    QWebEngineProfile* profile_ = nullptr;

private slots:
    void initTestCase() {
        QVERIFY(server_.start());
        profile_ = CreateBrowserProfile(this);
        server_.page(QStringLiteral("/target.html"),
                     "<html><head><title>Target</title></head><body>target</body></html>");
        server_.page(
            QStringLiteral("/popups.html"),
            "<html><head><title>Pop</title></head><body>"
            "<a id='blank' href='/target.html?via=blank' target='_blank'>open</a>"
            "<button id='open' onclick=\"window.open('/target.html?via=open','w')\">go</button>"
            "</body></html>");
    }

    void popupsLoadInTheSamePage_data() {
        QTest::addColumn<bool>("withView");
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QString>("via");
        QTest::newRow("view, target=_blank") << true << "blank"
                                             << "blank";
        QTest::newRow("view, window.open") << true << "open"
                                           << "open";
        QTest::newRow("hidden, target=_blank") << false << "blank"
                                               << "blank";
        QTest::newRow("hidden, window.open") << false << "open"
                                             << "open";
    }
    void popupsLoadInTheSamePage() {
        QFETCH(bool, withView);
        QFETCH(QString, trigger);
        QFETCH(QString, via);
        std::unique_ptr<BrowserView> view;
        std::unique_ptr<BrowserPage> bare;
        BrowserPage* page = nullptr;
        if (withView) {
            view = std::make_unique<BrowserView>(profile_);
            view->resize(400, 300);
            view->show();
            page = view->browser();
        } else {
            bare = std::make_unique<BrowserPage>(profile_);
            page = bare.get();
        }
        const int windowsBefore = int(QApplication::topLevelWidgets().size());
        QVERIFY(LoadAndWait(page, server_.url(QStringLiteral("/popups.html"))));
        QSignalSpy popped(page, &BrowserPage::NewWindow);
        Evaluate(page, QStringLiteral("document.getElementById('%1').click()").arg(trigger));
        QTRY_COMPARE_WITH_TIMEOUT(page->url().query(), QStringLiteral("via=") + via, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(page->title(), QStringLiteral("Target"), 15000);
        QCOMPARE(popped.size(), 1);
        QCOMPARE(int(QApplication::topLevelWidgets().size()), windowsBefore);
    }

    void popupsOnlyLoadWebAddresses() {
        QTemporaryDir dir;
        QFile local(dir.filePath(QStringLiteral("secret.html")));
        QVERIFY(local.open(QIODevice::WriteOnly));
        local.write("<html><head><title>Local file</title></head></html>");
        local.close();
        server_.page(
            QStringLiteral("/schemes.html"),
            "<html><head><title>Schemes</title></head><body>"
            "<button id='data' onclick=\"window.open('data:text/html,<title>Data</title>')\">"
            "d</button><button id='file' onclick=\"window.open('" +
                QUrl::fromLocalFile(local.fileName()).toEncoded() +
                "')\">f</button></body></html>");
        BrowserPage page(profile_);
        QVERIFY(LoadAndWait(&page, server_.url(QStringLiteral("/schemes.html"))));
        QSignalSpy popped(&page, &BrowserPage::NewWindow);
        for (const char* id : {"data", "file"})
            Evaluate(&page, QStringLiteral("document.getElementById('%1').click()")
                                .arg(QString::fromLatin1(id)));
        QTest::qWait(800);
        QCOMPARE(popped.size(), 0);
        QCOMPARE(page.title(), QStringLiteral("Schemes"));
        QVERIFY(page.url().path().endsWith(QStringLiteral("/schemes.html")));
        QVERIFY(!IsWebAddress(QUrl(QStringLiteral("javascript:alert(1)"))));
        QVERIFY(IsWebAddress(QUrl(QStringLiteral("HTTPS://x/"))));
    }

    // The snapshot and the writes run in a script world of their own: what the
    // page's scripts redefine is not what they read.
    void pageScriptsCannotForgeWhatIsRead() {
        server_.page(
            QStringLiteral("/forge.html"),
            "<html><head><title>Forge</title></head><body>"
            "<a id='real' href='/real.pdf'>Download PDF</a><input id='box' type='checkbox'>"
            "<script>"
            "JSON.stringify = function () { return '{\"url\":\"http://forged/\",\"els\":[]}'; };"
            "Object.defineProperty(document, 'URL', { get: function () { return 'http://forged/'; "
            "} });"
            "document.getElementsByTagName = function () { return []; };"
            "HTMLElement.prototype.click = function () { document.title = 'forged click'; };"
            "</script></body></html>");
        BrowserPage page(profile_);
        QVERIFY(LoadAndWait(&page, server_.url(QStringLiteral("/forge.html"))));
        QCOMPARE(Evaluate(&page, QStringLiteral("document.URL")).toString(),
                 QStringLiteral("http://forged/"));
        const auto doc = Await(page.Document());
        QVERIFY(doc);
        QCOMPARE(doc->URL(), server_.url(QStringLiteral("/forge.html")));
        const int real = doc->getElementById(QStringLiteral("real"));
        QVERIFY(real >= 0);
        QCOMPARE(doc->at(real).href, server_.url(QStringLiteral("/real.pdf")));
        const int box = doc->getElementById(QStringLiteral("box"));
        QVERIFY(Await(page.Click(doc->at(box))));
        QVERIFY(Evaluate(&page, QStringLiteral("document.getElementById('box').checked")).toBool());
        QCOMPARE(page.title(), QStringLiteral("Forge"));
    }

    void silentModeSwallowsScriptDialogs() {
        server_.page(QStringLiteral("/alert.html"),
                     "<html><body><script>alert('hi'); document.title = 'c:' + confirm('sure?');"
                     "</script></body></html>");
        BrowserPage page(profile_);
        page.setSilent(true);
        QSignalSpy suppressed(&page, &BrowserPage::ScriptDialogSuppressed);
        QVERIFY(LoadAndWait(&page, server_.url(QStringLiteral("/alert.html"))));
        QTRY_COMPARE(suppressed.size(), 2);
        QCOMPARE(suppressed.at(0).at(0).toString(), QStringLiteral("alert"));
        QCOMPARE(suppressed.at(0).at(1).toString(), QStringLiteral("hi"));
        QTRY_COMPARE(page.title(), QStringLiteral("c:false"));
    }

    void blockersNullTheDialogFunctionsBeforePageScripts() {
        server_.page(QStringLiteral("/blocked.html"),
                     "<html><body><script>document.title = String(window.alert) + ',' +"
                     " String(window.open) + ',' + String(window.confirm);</script>"
                     "<iframe src='/target.html'></iframe></body></html>");
        BrowserPage page(profile_);
        page.setScriptBlockers(true);
        QVERIFY(LoadAndWait(&page, server_.url(QStringLiteral("/blocked.html"))));
        QTRY_COMPARE(page.title(), QStringLiteral("null,null,null"));
        QCOMPARE(
            Evaluate(&page, QStringLiteral("String(window.frames[0].showModalDialog)")).toString(),
            QStringLiteral("null"));
        page.setScriptBlockers(false);
        QVERIFY(LoadAndWait(&page, server_.url(QStringLiteral("/blocked.html"))));
        QTRY_VERIFY(page.title().startsWith(QStringLiteral("function")));
    }

    void framedPagesStayAsFirstLoaded() {
        server_.page(QStringLiteral("/frames.html"),
                     "<html><frameset rows='50%,50%'><frame src='/target.html'>"
                     "<frame src='/target.html?2'></frameset></html>");
        BrowserPage page(profile_);
        page.setKeepFramedPages(true);
        QVERIFY(LoadAndWait(&page, server_.url(QStringLiteral("/frames.html"))));
        QTRY_VERIFY(page.firstFrameReachable());

        const int served = int(server_.log.size());
        page.Navigate(server_.url(QStringLiteral("/target.html?away")));
        QTest::qWait(500);
        QVERIFY(page.url().path().endsWith(QStringLiteral("/frames.html")));
        QCOMPARE(int(server_.log.size()), served);
        QVERIFY(!page.Busy());

        // about:blank always passes, and after it anything loads again.
        QVERIFY(LoadAndWait(&page, QStringLiteral("about:blank")));
        QCOMPARE(page.url().toString(), QStringLiteral("about:blank"));
        QVERIFY(LoadAndWait(&page, server_.url(QStringLiteral("/target.html"))));
        QCOMPARE(page.title(), QStringLiteral("Target"));
        QVERIFY(!page.firstFrameReachable());
    }

    // A script that never ends keeps the page from answering: the wait ends
    // at its limit or at a stop, and a new renderer takes the page on.
    void scriptWaitsEndAndHungPagesAreLetGo() {
        BrowserPage page(profile_);
        QVERIFY(LoadAndWait(&page, server_.url(QStringLiteral("/target.html"))));
        page.runJavaScript(QStringLiteral("for (;;) {}"), QWebEngineScript::MainWorld);
        QElapsedTimer clock;
        clock.start();
        ScriptReply reply =
            Await(page.Ask(QStringLiteral("1 + 1"), std::chrono::milliseconds(800)));
        QCOMPARE(reply.end, ScriptReply::End::TimedOut);
        QVERIFY(page.Unresponsive());
        QVERIFY(clock.elapsed() < 5000);

        QTimer::singleShot(200, &page, [&page] { page.CutScriptWaits(); });
        clock.restart();
        reply = Await(page.Ask(QStringLiteral("2 + 2"), std::chrono::milliseconds(60000)));
        QCOMPARE(reply.end, ScriptReply::End::Cut);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));

        page.Revive();
        QVERIFY(!page.Unresponsive());
        QVERIFY(LoadAndWait(&page, server_.url(QStringLiteral("/target.html"))));
        reply = Await(page.Ask(QStringLiteral("3 + 3")));
        QCOMPARE(reply.end, ScriptReply::End::Answered);
        QCOMPARE(reply.value.toInt(), 6);
        QVERIFY(!page.Unresponsive());

        // Only the end of the load asked for tells that no document will come:
        // not the blank page's, nor the page shown before.
        const QUrl before = page.url();
        const QUrl gone(server_.url(QStringLiteral("/gone")));
        LoadWatch watch(&page);
        watch.passOver(before);
        watch.expect(gone);
        emit page.LoadEndedWithoutDocument(QUrl(QStringLiteral("about:blank")));
        emit page.LoadEndedWithoutDocument(before);
        emit page.DownloadOffered(before, QStringLiteral("application/pdf"));
        QTest::qWait(int(TimeLimits::DownloadOfferGrace.count()) + 200);
        QVERIFY(!watch.endedWithoutDocument());
        QVERIFY(watch.downloadUrl().isEmpty());
        emit page.LoadEndedWithoutDocument(gone);
        QVERIFY(!watch.endedWithoutDocument()); // it may still turn out a download
        QTRY_VERIFY(watch.endedWithoutDocument());
        watch.expect(gone);
        emit page.DownloadOffered(gone, QStringLiteral("application/pdf"));
        QVERIFY(watch.endedWithoutDocument());
        QCOMPARE(watch.downloadUrl(), gone);
        QCOMPARE(watch.downloadType(), QStringLiteral("application/pdf"));
    }

    // A snapshot of links and meta elements only, read in parts: all of them,
    // in document order, counted as the page counts them.
    void snapshotInParts() {
        QByteArray body =
            "<html><head><meta name='citation_pdf_url' content='/a.pdf'></head><body>";
        for (int i = 0; i < 12'345; ++i)
            body += "<p><a href='/r/" + QByteArray::number(i) + "'>R" + QByteArray::number(i) +
                    "</a></p>";
        body += "<meta name='late' content='x'></body></html>";
        server_.page(QStringLiteral("/many.html"), body);
        BrowserPage page(profile_);
        QVERIFY(LoadAndWait(&page, server_.url(QStringLiteral("/many.html"))));
        const auto doc = Await(
            page.Document({QStringLiteral("A")}, {QStringLiteral("A"), QStringLiteral("META")}));
        QVERIFY(doc);
        QCOMPARE(doc->URL(), server_.url(QStringLiteral("/many.html")));
        QCOMPARE(doc->size(), 12'345 + 2);
        const QList<int> anchors = doc->getElementsByTagName(QStringLiteral("A"));
        QCOMPARE(anchors.size(), 12'345);
        for (int i : {0, 4999, 5000, 12'344}) {
            const PageElement& a = doc->at(anchors.at(i));
            QCOMPARE(a.tagIndex, i);
            QCOMPARE(a.innerText, QStringLiteral("R%1").arg(i));
            QCOMPARE(a.href, server_.url(QStringLiteral("/r/%1").arg(i)));
        }
        const QList<int> metas = doc->getElementsByTagName(QStringLiteral("meta"));
        QCOMPARE(metas.size(), 2);
        QCOMPARE(doc->at(metas.at(0)).content, QStringLiteral("/a.pdf"));
        QCOMPARE(doc->at(metas.at(1)).name, QStringLiteral("late"));
        QCOMPARE(doc->getElementsByTagName(QStringLiteral("P")).size(), 0);
        // A click by tag and index reaches the element read in a later part.
        QVERIFY(Await(page.Click(doc->at(anchors.at(12'000)))));
        QTRY_VERIFY(page.url().path() == u"/r/12000");
    }

    void snapshotReadsTheLivePage() {
        server_.page(
            QStringLiteral("/doc.html"),
            "<html><head><title>Doc</title><meta name='citation_pdf_url' content='http://x/a.pdf'>"
            "</head><body><div class='result odd' id='r1'><input type='checkbox' name='sel'>"
            "<h3>H<inf>2</inf>O   in   water</h3>"
            "<a href='rel/page.html?a=1&amp;b=2' title='Full text'><img alt=''></a>"
            "<a href=\"javascript:DanaMethodOpen('open',window,'/search/x.url?a=1')\">js</a>"
            "</div><input id='box' type='text' value='start'><svg><a></a></svg></body></html>");
        BrowserPage page(profile_);
        QVERIFY(LoadAndWait(&page, server_.url(QStringLiteral("/doc.html"))));
        Evaluate(&page, QStringLiteral("document.getElementsByName('sel')[0].click()"));

        const auto doc = Await(page.Document());
        QVERIFY(doc);
        QCOMPARE(doc->URL(), server_.url(QStringLiteral("/doc.html")));
        QVERIFY(!doc->firstFrameReachable());
        const int div = doc->getElementById(QStringLiteral("r1"));
        QVERIFY(div >= 0);
        QCOMPARE(doc->at(div).className, QStringLiteral("result odd"));
        const QList<int> inputs = doc->getElementsByTagName(div, QStringLiteral("INPUT"));
        QCOMPARE(inputs.size(), 1);
        QVERIFY(doc->at(inputs.at(0)).checked);
        QCOMPARE(doc->at(inputs.at(0)).type, QStringLiteral("checkbox"));
        const int h3 = doc->getElementsByTagName(div, QStringLiteral("H3")).value(0, -1);
        QCOMPARE(doc->at(h3).innerText, QStringLiteral("H2O in water"));
        const QList<int> anchors = doc->getElementsByTagName(div, QStringLiteral("A"));
        QCOMPARE(anchors.size(), 2);
        QCOMPARE(doc->at(anchors.at(0)).href,
                 server_.url(QStringLiteral("/rel/page.html?a=1&b=2")));
        QCOMPARE(doc->at(anchors.at(0)).title, QStringLiteral("Full text"));
        QVERIFY(doc->at(anchors.at(0)).innerHTML.contains(QStringLiteral("<img")));
        QCOMPARE(doc->at(anchors.at(0)).innerText, QString());
        QCOMPARE(doc->at(anchors.at(1)).href,
                 QStringLiteral("javascript:DanaMethodOpen('open',window,'/search/x.url?a=1')"));
        const QList<int> metas = doc->getElementsByTagName(QStringLiteral("meta"));
        QCOMPARE(doc->at(metas.at(0)).name, QStringLiteral("citation_pdf_url"));
        QCOMPARE(doc->at(metas.at(0)).content, QStringLiteral("http://x/a.pdf"));

        // Writes reach the live page.
        const PageElement box = doc->at(doc->getElementById(QStringLiteral("box")));
        QCOMPARE(box.value, QStringLiteral("start"));
        QVERIFY(Await(page.SetValue(box, QStringLiteral("typed 'quoted'"))));
        QCOMPARE(Evaluate(&page, QStringLiteral("document.getElementById('box').value")).toString(),
                 QStringLiteral("typed 'quoted'"));
        QVERIFY(Await(page.Click(doc->at(inputs.at(0)))));
        QCOMPARE(Evaluate(&page, QStringLiteral("document.getElementsByName('sel')[0].checked"))
                     .toBool(),
                 false);
        PageElement gone = box;
        gone.tagIndex = 42;
        QVERIFY(!Await(page.Click(gone)));
    }
};

QM_TEST_WIDGETS_MAIN(TestBrowserPage)
#include "tst_browser_page.moc"
