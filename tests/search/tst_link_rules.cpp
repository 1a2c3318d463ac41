#include "app/page_document.h"
#include "app/site_config.h"
#include "search/address_names.h"
#include "search/analysis_run.h"
#include "search/link_rules.h"
#include "search/pdf_link_resolver.h"
#include "test_main.h"

namespace {

namespace Marker = SiteConfig::PublisherMarker;

struct A {
    QString text;
    QString title;
    QString html;
    QString href;
    QString cls;
};

// A landing page at address with the given anchors, then the given meta elements
// (name, content).
PageDocument Page(const QString& address, const QList<A>& anchors,
                  const QList<QPair<QString, QString>>& metas = {}) {
    PageDocument doc(address);
    doc.begin({.tagName = QStringLiteral("HTML")});
    doc.begin({.tagName = QStringLiteral("HEAD")});
    for (const auto& [name, content] : metas)
        doc.add({.tagName = QStringLiteral("META"), .name = name, .content = content});
    doc.end();
    doc.begin({.tagName = QStringLiteral("BODY")});
    for (const A& a : anchors) {
        doc.add({.tagName = QStringLiteral("A"),
                 .className = a.cls,
                 .innerText = a.text,
                 .innerHTML = a.html.isNull() ? a.text : a.html,
                 .title = a.title,
                 .href = a.href});
    }
    doc.end();
    doc.end();
    return doc;
}

// An address on the publisher's host (the marker with a host name before it).
QString On(const QString& marker, const QString& path = QStringLiteral("/article/1")) {
    const QString host = marker.startsWith(u'.') ? QStringLiteral("www") + marker : marker;
    return QStringLiteral("https://") + host + path;
}

const QString Pdf = QStringLiteral("https://cdn.example/paper.pdf");

} // namespace

Q_DECLARE_METATYPE(A)

class TestLinkRules : public QObject {
    Q_OBJECT

private slots:
    // Each rule's own anchor on its own publisher's page, and the same anchor
    // elsewhere: the marker gates every rule.
    void everyRuleFindsItsAnchorOnlyOnItsPublishersPages_data() {
        QTest::addColumn<QString>("marker");
        QTest::addColumn<A>("anchor");
        QTest::newRow("1 ScienceDirect")
            << Marker::ScienceDirect << A{"Download PDF (1 MB)", "Download PDF", {}, Pdf, {}};
        QTest::newRow("1 ScienceDirect, full text")
            << Marker::ScienceDirect
            << A{"Download full text in PDF", "Download full text in PDF", {}, Pdf, {}};
        QTest::newRow("2 energy") << Marker::JapanInstituteOfEnergy
                                  << A{"本文PDF [1104K]", {}, {}, "https://x/95_5/_pdf", {}};
        QTest::newRow("2 chemical engineers")
            << Marker::ChemicalEngineersJapan
            << A{"Full Text PDF [856K]", {}, {}, "https://x/46_6/_PDF", {}};
        QTest::newRow("3 CNKI") << Marker::Cnki
                                << A{"PDF下载", {}, {}, "https://x/kcms/Download.aspx?f=1", {}};
        QTest::newRow("4 Wanfang")
            << Marker::Wanfang
            << A{"下载", "下载全文", "<i class=\"icon-download\"></i>下载", Pdf, {}};
        QTest::newRow("5 Springer") << Marker::Springer
                                    << A{"Download PDF (1.2 MB)",
                                         {},
                                         "<span class=\"download-pdf-size\">x</span>",
                                         Pdf,
                                         {}};
        QTest::newRow("6 ACS") << Marker::Acs << A{"PDF (2 MB)", "high-res PDF", {}, Pdf, {}};
        QTest::newRow("7 ECS") << Marker::Ecs << A{"Full Text (PDF)", {}, {}, Pdf, {}};
        QTest::newRow("8 IOP") << Marker::Iop
                               << A{"Article PDF", {}, {}, Pdf, "btn pdf-button-main"};
        QTest::newRow("9 Wiley") << Marker::Wiley
                                 << A{"Get PDF (123K)", "Article in pdf format", {}, Pdf, {}};
        QTest::newRow("10 Maney") << Marker::Maney
                                  << A{"", {}, "<img src=\"/i/pdfDownload.png\">", Pdf, {}};
        QTest::newRow("11 Hindawi")
            << Marker::Hindawi << A{"Full-Text PDF", {}, {}, Pdf, "full_text_pdf"};
        QTest::newRow("12 NEJM") << Marker::Nejm << A{"PDF", {}, {}, Pdf, " zone-tool-articlePDF "};
        QTest::newRow("13 Science") << Marker::Science << A{"Full Text (PDF)", {}, {}, Pdf, {}};
    }
    void everyRuleFindsItsAnchorOnlyOnItsPublishersPages() {
        QFETCH(QString, marker);
        QFETCH(A, anchor);
        const A decoy{"Abstract", "Abstract", {}, QStringLiteral("https://x/abstract"), {}};
        QCOMPARE(FindPdfAddress(Page(On(marker), {decoy, anchor, decoy})), anchor.href);
        QCOMPARE(FindPdfAddress(Page(QStringLiteral("https://unlisted.example/a"), {anchor})),
                 QString());
        // Letter case of the address does not matter.
        QCOMPARE(FindPdfAddress(Page(On(marker).toUpper(), {anchor})), anchor.href);
    }

    void anchorsThatAlmostMatchDoNot() {
        const QString sd = On(Marker::ScienceDirect);
        QCOMPARE(FindPdfAddress(Page(sd, {{"Download PDF (1 MB)", "", {}, Pdf, {}}})), QString());
        QCOMPARE(FindPdfAddress(Page(sd, {{"Download PDFs", "Download PDFs", {}, Pdf, {}}})),
                 QString());
        // Wiley and ACS need their title text as well.
        QCOMPARE(FindPdfAddress(Page(On(Marker::Wiley), {{"Get PDF (123K)", "", {}, Pdf, {}}})),
                 QString());
        QCOMPARE(FindPdfAddress(Page(On(Marker::Acs), {{"PDF (2 MB)", "Low-res", {}, Pdf, {}}})),
                 QString());
        // The Japanese societies' link must end in /_pdf.
        QCOMPARE(FindPdfAddress(Page(On(Marker::JapanInstituteOfEnergy),
                                     {{"本文PDF", {}, {}, "https://x/_pdf/view", {}}})),
                 QString());
        // NEJM keeps the spaces of the text: "PDF file" is not "PDF".
        QCOMPARE(FindPdfAddress(
                     Page(On(Marker::Nejm), {{"PDF file", {}, {}, Pdf, "zone-tool-articlePDF"}})),
                 QString());
        // "next>"-style squeezing only where the rule says: IOP's class must hold its word.
        QCOMPARE(FindPdfAddress(Page(On(Marker::Iop), {{"Article PDF", {}, {}, Pdf, "btn"}})),
                 QString());
    }

    // Text from the engine can hold no-break spaces and line breaks.
    void unicodeSpacesCountAsSpaces() {
        QCOMPARE(FindPdfAddress(
                     Page(On(Marker::Acs),
                          {{QStringLiteral("PDF\u00a0(2 MB)"), "HIGH-RES PDF", {}, Pdf, {}}})),
                 Pdf);
        QCOMPARE(FindPdfAddress(
                     Page(On(Marker::Wiley), {{QStringLiteral("\u00a0Get\u00a0PDF\n(98K)\u2009"),
                                               QStringLiteral(" Article in PDF format\u00a0"),
                                               {},
                                               Pdf,
                                               {}}})),
                 Pdf);
        QCOMPARE(FindPdfAddress(Page(On(Marker::ScienceDirect),
                                     {{QStringLiteral("\nDownload\u00a0PDF\r\n(1 MB)"),
                                       QStringLiteral("Download\u00a0PDF"),
                                       {},
                                       Pdf,
                                       {}}})),
                 Pdf);
        QCOMPARE(
            FindPdfAddress(Page(On(Marker::Nejm), {{QStringLiteral("\u3000PDF\n"),
                                                    {},
                                                    {},
                                                    Pdf,
                                                    QStringLiteral("zone-tool-\narticlePDF")}})),
            Pdf);
        // An icon link whose text is only a no-break space counts as empty.
        QCOMPARE(FindPdfAddress(
                     Page(On(Marker::Maney),
                          {{QStringLiteral("\u00a0"), {}, "<img src=pdfDownload.png>", Pdf, {}}})),
                 Pdf);
        QCOMPARE(TrimAnySpaces(QStringLiteral("\t a\u00a0b\n")), QStringLiteral("a b"));
        QCOMPARE(RemoveAnySpaces(QStringLiteral("\t a\u00a0b\n c")), QStringLiteral("abc"));
    }

    void dotGatesAdmitOnlyHostsBelowTheDomain() {
        const A springer{"Download PDF", {}, "<b class=download-pdf-size></b>", Pdf, {}};
        QCOMPARE(FindPdfAddress(Page(QStringLiteral("https://springer.com/article/1"), {springer})),
                 QString());
        QCOMPARE(FindPdfAddress(Page(QStringLiteral("https://link.springer.com/a"), {springer})),
                 Pdf);
        // Loopback addresses carrying the host in their path pass the same way.
        QCOMPARE(FindPdfAddress(
                     Page(QStringLiteral("http://127.0.0.1:8080/link.springer.com/a"), {springer})),
                 Pdf);
        // A bare-domain gate takes the bare domain too.
        QCOMPARE(FindPdfAddress(Page(QStringLiteral("https://sciencedirect.com/x"),
                                     {{"Download PDF", "Download PDF", {}, Pdf, {}}})),
                 Pdf);
    }

    void theFirstMatchingAnchorAndTheLastMatchingRuleWin() {
        const QString first = QStringLiteral("https://x/first.pdf?a=1&amp;b=2");
        const QString second = QStringLiteral("https://x/second.pdf");
        QCOMPARE(
            FindPdfAddress(Page(On(Marker::Science), {{"Full text (PDF)", {}, {}, first, {}},
                                                      {"Full text (PDF)", {}, {}, second, {}}})),
            QStringLiteral("https://x/first.pdf?a=1&b=2"));
        // An address holding two markers: the later rule's find replaces the earlier one's.
        const QString both = QStringLiteral("https://www.sciencedirect.com/via/link.springer.com/");
        QCOMPARE(FindPdfAddress(
                     Page(both, {{"Download PDF", "Download PDF", {}, first, {}},
                                 {"Download PDF", {}, "<i class=download-pdf-size>", second, {}}})),
                 second);
        // Only the earlier rule matches: its find stands.
        QCOMPARE(FindPdfAddress(Page(both, {{"Download PDF", "Download PDF", {}, second, {}}})),
                 second);
    }

    void citationMetadataHasTheLastWord() {
        const A sd{
            "Download PDF (1 MB)", "Download PDF", {}, QStringLiteral("https://x/a.pdf"), {}};
        const QPair<QString, QString> meta{QStringLiteral(" Citation_PDF_URL "),
                                           QStringLiteral("  https://x/meta.pdf?a=1&amp;b=2 ")};
        QCOMPARE(FindPdfAddress(Page(On(Marker::ScienceDirect), {sd}, {meta})),
                 QStringLiteral("https://x/meta.pdf?a=1&b=2"));
        // Unlisted publishers: the metadata or nothing.
        QCOMPARE(FindPdfAddress(Page(QStringLiteral("https://www.mdpi.com/j/1"), {}, {meta})),
                 QStringLiteral("https://x/meta.pdf?a=1&b=2"));
        QCOMPARE(FindPdfAddress(Page(QStringLiteral("https://www.mdpi.com/j/1"), {sd})), QString());
        // The first such meta element counts; other names do not.
        QCOMPARE(FindPdfAddress(Page(QStringLiteral("https://p.example/j/1"), {},
                                     {{"citation_title", "https://x/t.pdf"},
                                      {"citation_pdf_url", "https://x/1.pdf"},
                                      {"citation_pdf_url", "https://x/2.pdf"}})),
                 QStringLiteral("https://x/1.pdf"));
        // A relative address means the page's own site.
        QCOMPARE(FindPdfAddress(Page(QStringLiteral("http://127.0.0.1:81/www.mdpi.com/j/1.html"),
                                     {}, {{"citation_pdf_url", "/www.mdpi.com/pdf/1.pdf"}})),
                 QStringLiteral("http://127.0.0.1:81/www.mdpi.com/pdf/1.pdf"));
    }

    // A page can name any address; only web addresses become downloads.
    void onlyWebAddressesAreFound() {
        const QString page = On(Marker::Science);
        const QString web = QStringLiteral("https://x/web.pdf");
        QCOMPARE(FindPdfAddress(Page(page, {{"Full text (PDF)", {}, {}, "file:///etc/hostname", {}},
                                            {"Full text (PDF)", {}, {}, "javascript:go(1)", {}},
                                            {"Full text (PDF)", {}, {}, "data:,x", {}},
                                            {"Full text (PDF)", {}, {}, "ftp://x/a.pdf", {}},
                                            {"Full text (PDF)", {}, {}, web, {}}})),
                 web);
        QCOMPARE(
            FindPdfAddress(Page(page, {{"Full text (PDF)", {}, {}, "file:///etc/hostname", {}}})),
            QString());
        // Relative links mean the page's own site.
        QCOMPARE(FindPdfAddress(Page(page, {{"Full text (PDF)", {}, {}, "../pdf/1.pdf", {}}})),
                 QStringLiteral("https://sciencemag.org/pdf/1.pdf"));
        // A meta element naming a local file is passed over, as if it were not there.
        const QString mdpi = QStringLiteral("https://www.mdpi.com/j/1");
        QCOMPARE(FindPdfAddress(Page(mdpi, {},
                                     {{"citation_pdf_url", "file:///etc/hostname"},
                                      {"citation_pdf_url", "https://x/meta.pdf"}})),
                 QStringLiteral("https://x/meta.pdf"));
        QCOMPARE(FindPdfAddress(Page(mdpi, {}, {{"citation_pdf_url", "/etc/hostname"}})),
                 QStringLiteral("https://www.mdpi.com/etc/hostname"));
        QCOMPARE(FindPdfAddress(Page(page, {{"Full text (PDF)", {}, {}, web, {}}},
                                     {{"citation_pdf_url", "file:///etc/hostname"}})),
                 web);
        QCOMPARE(FindPdfAddress(Page(QStringLiteral("file:///tmp/www.mdpi.com.html"), {},
                                     {{"citation_pdf_url", "hostname"}})),
                 QString());
    }

    void refreshRedirects() {
        const auto page = [](const QString& httpEquiv, const QString& content,
                             bool framed = false) {
            PageDocument doc(QStringLiteral("http://h/"));
            doc.add(
                {.tagName = QStringLiteral("META"), .content = content, .httpEquiv = httpEquiv});
            doc.setFirstFrameReachable(framed);
            return RefreshRedirectDelay(doc);
        };
        QCOMPARE(page("Refresh", "0; url=/next"), std::chrono::milliseconds(0));
        QCOMPARE(page("refresh", "2.5;URL='http://x/'"), std::chrono::milliseconds(2500));
        QCOMPARE(page("refresh", "url=/x"), std::chrono::milliseconds(0));
        QVERIFY(!page("refresh", "5"));               // reloads itself
        QVERIFY(!page("refresh", "600; url=/x"));     // the page's own timer, not a redirect
        QVERIFY(!page("refresh", "0; url=/x", true)); // framed pages stay as loaded
        QVERIFY(!page("content-type", "0; url=/x"));
    }

    void namesOfFoundPdfs() {
        QCOMPARE(FileNameFromAddress(QStringLiteral("http://h/a/12345.pdf"), true),
                 QStringLiteral("12345"));
        QCOMPARE(FileNameFromAddress(QStringLiteral("http://h/a/download"), true),
                 QStringLiteral("download"));
        QCOMPARE(RemoveLineBreaks(QStringLiteral("a\r\nb\nc\rd")), QStringLiteral("abcd"));
        QCOMPARE(RemoveLineBreaks(QString(QStringLiteral("a")) + QChar(0) + u'b'),
                 QStringLiteral("ab"));

        QCOMPARE(PdfSaveName(QStringLiteral(" Heat\r\nflow: a/b? "),
                             QStringLiteral("http://h/9.pdf"), false),
                 QStringLiteral("Heatflow ab"));
        QCOMPARE(PdfSaveName(QStringLiteral("T"), QStringLiteral("http://h/x/12345.pdf"), true),
                 QStringLiteral("12345"));
        QCOMPARE(
            PdfSaveName(QStringLiteral("T"), QStringLiteral("http://h/x/article.pdf?x=1"), true),
            QStringLiteral("article"));
        // Nothing left of the chosen source: the other one, then a plain word,
        // never a hidden ".pdf" file.
        QCOMPARE(PdfSaveName(QStringLiteral("Title"), QStringLiteral("http://h/x/"), true),
                 QStringLiteral("Title"));
        QCOMPARE(PdfSaveName(QStringLiteral("..."), QStringLiteral("http://h/x/p.pdf"), false),
                 QStringLiteral("p"));
        QCOMPARE(PdfSaveName(QStringLiteral("?"), QStringLiteral("http://h/"), false),
                 QStringLiteral("download"));
    }
};

QM_TEST_GUILESS_MAIN(TestLinkRules)
#include "tst_link_rules.moc"
