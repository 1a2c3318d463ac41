#include "app/page_document.h"
#include "app/site_config.h"
#include "search/record_list.h"
#include "search/result_parser.h"
#include "test_main.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

struct Anchor {
    QString text;
    QString title;
    QString html;
    QString href;
};

// A result block as the site writes it: check box, h3 title, anchors.
void AddBlock(PageDocument& doc, const QString& cls, const QString& title,
              const QList<Anchor>& anchors, bool withInput = true, bool checked = false) {
    doc.begin({.tagName = QStringLiteral("DIV"), .className = cls});
    if (withInput)
        doc.add({.tagName = QStringLiteral("INPUT"),
                 .checked = checked,
                 .type = QStringLiteral("checkbox")});
    doc.add({.tagName = QStringLiteral("H3"), .innerText = title});
    for (const Anchor& a : anchors) {
        doc.add({.tagName = QStringLiteral("A"),
                 .innerText = a.text,
                 .innerHTML = a.html,
                 .title = a.title,
                 .href = a.href});
    }
    doc.end();
}

const Anchor Decoy{
    QStringLiteral("Abstract"), {}, QStringLiteral("Abstract"), QStringLiteral("http://h/abs")};

Anchor Icon(const QString& href) {
    return {{}, QStringLiteral("Full text"), QStringLiteral("<img src=\"x.png\">"), href};
}

} // namespace

class TestResultParser : public QObject {
    Q_OBJECT

private slots:
    void siteRoot_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("root");
        QTest::newRow("plain") << "https://www.example.com/search/x.url?a=1"
                               << "https://www.example.com";
        QTest::newRow("host only") << "http://h"
                                   << "http://h";
        QTest::newRow("slash right after") << "file:///a/b"
                                           << "file:///a/b";
        QTest::newRow("no scheme") << "host.com/path"
                                   << "host.com";
        QTest::newRow("short head") << "ab/c"
                                    << "ab/c";
        QTest::newRow("no slash") << "nothing"
                                  << "nothing";
    }
    void siteRoot() {
        QFETCH(QString, address);
        QFETCH(QString, root);
        QCOMPARE(SiteRoot(address), root);
    }

    void blocksAreChosenByClassAndCheckBox() {
        PageDocument doc(
            QStringLiteral("https://www.engineeringvillage.com/search/results.url?x=1"));
        const QString href = QStringLiteral("javascript:openFullText('/p/%1')");
        AddBlock(doc, QStringLiteral("result"), QStringLiteral("One"), {Decoy, Icon(href.arg(1))});
        AddBlock(doc, QStringLiteral("Result Odd"), QStringLiteral("Two"),
                 {Decoy, Icon(href.arg(2))}, true, true);
        AddBlock(doc, QStringLiteral("result  odd"), QStringLiteral("Spaces"),
                 {Decoy, Icon(href.arg(3))});
        AddBlock(doc, QStringLiteral("result odd x"), QStringLiteral("Third word"),
                 {Decoy, Icon(href.arg(4))});
        AddBlock(doc, QStringLiteral("result"), QStringLiteral("No box"),
                 {Decoy, Icon(href.arg(5))}, false);

        QList<ParsedHit> hits = ParseResultHits(doc, false);
        QCOMPARE(hits.size(), 2);
        QCOMPARE(hits.at(0).title, QStringLiteral("One"));
        QCOMPARE(hits.at(0).link, QStringLiteral("https://www.engineeringvillage.com/p/1"));
        QCOMPARE(hits.at(1).title, QStringLiteral("Two"));

        hits = ParseResultHits(doc, true);
        QCOMPARE(hits.size(), 1);
        QCOMPARE(hits.at(0).title, QStringLiteral("Two"));
    }

    void titlesLoseOnlyTheFourLiteralTags() {
        PageDocument doc(QStringLiteral("http://h/r"));
        AddBlock(doc, QStringLiteral("result"),
                 QStringLiteral("  H<INF>2</Inf>O and x<sup>2</SUP> <sub>k</sub> "),
                 {Decoy, Icon(QStringLiteral("javascript:f('/a')"))});
        AddBlock(doc, QStringLiteral("result"), QString(),
                 {Decoy, Icon(QStringLiteral("javascript:f('/b')"))});
        const QList<ParsedHit> hits = ParseResultHits(doc, false);
        QCOMPARE(hits.size(), 1);
        QCOMPARE(hits.at(0).title, QStringLiteral("H2O and x2 <sub>k</sub>"));
    }

    // A heading broken over lines gives a one-line title: one list row, one
    // export line, one file name.
    void titlesLoseTheirLineBreaks() {
        PageDocument doc(QStringLiteral("http://h/r"));
        AddBlock(doc, QStringLiteral("result"),
                 QStringLiteral("Heat transfer \nin micro-\r\nchannels\n\nwith H<inf>2</inf>O\n"),
                 {Decoy, Icon(QStringLiteral("javascript:f('/a')"))});
        const QList<ParsedHit> hits = ParseResultHits(doc, false);
        QCOMPARE(hits.size(), 1);
        QCOMPARE(hits.at(0).title, QStringLiteral("Heat transfer in micro- channels with H2O"));
        RecordListModel records;
        ParseResultPage(doc, false, QString(), records);
        QVERIFY(!records.record(1).title.contains(u'\n'));
    }

    void theFullTextIconIsTheFirstQualifyingAnchorAfterTheFirst() {
        PageDocument doc(QStringLiteral("http://h/r"));
        // The icon as first anchor is never looked at.
        AddBlock(doc, QStringLiteral("result"), QStringLiteral("First"),
                 {Icon(QStringLiteral("javascript:f('/1')"))});
        // Text "Full text" does not qualify; the picture html does.
        AddBlock(doc, QStringLiteral("result"), QStringLiteral("Html"),
                 {Decoy,
                  {QStringLiteral("Full text"),
                   QStringLiteral("Full text"),
                   {},
                   QStringLiteral("javascript:f('/no')")},
                  {{},
                   {},
                   QStringLiteral(" <IMG SRC='FullText.gif'> "),
                   QStringLiteral("javascript:f('/2')")}});
        // The first qualifying anchor ends the scan even without a usable link.
        AddBlock(doc, QStringLiteral("result"), QStringLiteral("Stops"),
                 {Decoy, Icon(QStringLiteral("javascript:noArgument()")),
                  Icon(QStringLiteral("javascript:f('/3')"))});
        AddBlock(doc, QStringLiteral("result"), QStringLiteral("One quote"),
                 {Decoy, Icon(QStringLiteral("javascript:f('/4)"))});
        AddBlock(doc, QStringLiteral("result"), QStringLiteral("Amp"),
                 {Decoy, Icon(QStringLiteral("  javascript:f('/5?a=1&amp;b=2')  "))});
        const QList<ParsedHit> hits = ParseResultHits(doc, false);
        QCOMPARE(hits.size(), 2);
        QCOMPARE(hits.at(0).title, QStringLiteral("Html"));
        QCOMPARE(hits.at(0).link, QStringLiteral("http://h/2"));
        QCOMPARE(hits.at(1).link, QStringLiteral("http://h/5?a=1&b=2"));
    }

    void gatewayLinksGetTheDanaInfoMarker() {
        const QString href =
            QStringLiteral("javascript:DanaMethodOpen('open',window,'/search/x.url?a=1&amp;b=2')");
        PageDocument gateway(
            QStringLiteral("https://vpn.university.edu/search/,DanaInfo=x+results.url"));
        AddBlock(gateway, QStringLiteral("result"), QStringLiteral("T"), {Decoy, Icon(href)});
        QCOMPARE(ParseResultHits(gateway, false).value(0).link,
                 QStringLiteral("https://vpn.university.edu/search/,DanaInfo=") +
                     SiteConfig::DatabaseHost + QStringLiteral("+x.url?a=1&b=2"));

        PageDocument direct(QStringLiteral("https://www.") + SiteConfig::DatabaseDomain +
                            QStringLiteral("/r"));
        AddBlock(direct, QStringLiteral("result"), QStringLiteral("T"), {Decoy, Icon(href)});
        QCOMPARE(ParseResultHits(direct, false).value(0).link,
                 QStringLiteral("https://www.") + SiteConfig::DatabaseDomain +
                     QStringLiteral("/search/x.url?a=1&b=2"));

        PageDocument unterminated(QStringLiteral("https://vpn/r"));
        AddBlock(unterminated, QStringLiteral("result"), QStringLiteral("T"),
                 {Decoy, Icon(QStringLiteral("javascript:DanaMethodOpen('open',window,'/x"))});
        QVERIFY(ParseResultHits(unterminated, false).isEmpty());
    }

    void parsingTwiceAddsNothingAndKeepsStatuses() {
        PageDocument doc(QStringLiteral("http://h/r"));
        AddBlock(doc, QStringLiteral("result"), QStringLiteral("A"),
                 {Decoy, Icon(QStringLiteral("javascript:f('/a')"))});
        AddBlock(doc, QStringLiteral("result"), QStringLiteral("B"),
                 {Decoy, Icon(QStringLiteral("javascript:f('/b')"))});
        AddBlock(doc, QStringLiteral("result"), QStringLiteral("A again"),
                 {Decoy, Icon(QStringLiteral("javascript:f('/a')"))});
        RecordListModel records;
        QCOMPARE(ParseResultPage(doc, false, QStringLiteral("/dl/"), records), 2);
        records.setStatus(1, QStringLiteral("成功"));
        QCOMPARE(ParseResultPage(doc, false, QString(), records), 0);
        QCOMPARE(records.count(), 2);
        QCOMPARE(records.record(1).title, QStringLiteral("A"));
        QCOMPARE(records.record(1).status, QStringLiteral("成功"));
        QCOMPARE(records.record(1).folder, QStringLiteral("/dl/"));
        QCOMPARE(records.record(2).type, QStringLiteral("pdf"));
    }

    void nestedBlocksSeeTheirWholeSubtreeAndNothingAfterIt() {
        PageDocument doc(QStringLiteral("http://h/r"));
        doc.begin({.tagName = QStringLiteral("DIV"), .className = QStringLiteral("result")});
        doc.add({.tagName = QStringLiteral("A"), .innerText = QStringLiteral("Outer")});
        // For the inner block its first anchor is passed over; for the outer one
        // it is the second and so the icon.
        AddBlock(doc, QStringLiteral("Result Odd"), QStringLiteral("Inner"),
                 {Icon(QStringLiteral("javascript:f('/first')")), Decoy,
                  Icon(QStringLiteral("javascript:f('/second')"))},
                 true, true);
        doc.add({.tagName = QStringLiteral("H3"), .innerText = QStringLiteral("Outer late")});
        doc.end();
        // The next block's icon lies after this one's end.
        AddBlock(doc, QStringLiteral("result"), QStringLiteral("No icon"), {Decoy});
        AddBlock(doc, QStringLiteral("result"), QStringLiteral("After"),
                 {Decoy, Icon(QStringLiteral("javascript:f('/after')"))});

        const QList<ParsedHit> hits = ParseResultHits(doc, false);
        QCOMPARE(hits.size(), 3);
        QCOMPARE(hits.at(0).title, QStringLiteral("Inner"));
        QCOMPARE(hits.at(0).link, QStringLiteral("http://h/first"));
        QCOMPARE(hits.at(1).title, QStringLiteral("Inner"));
        QCOMPARE(hits.at(1).link, QStringLiteral("http://h/second"));
        QCOMPARE(hits.at(2).title, QStringLiteral("After"));
        // The outer block's first check box is the inner block's, which is ticked.
        QCOMPARE(ParseResultHits(doc, true).size(), 2);

        // Blocks nested many thousands deep, as a hostile page's script can make
        // them: every block gives the hit at the bottom, without a walk of its
        // subtree per block (that took minutes).
        const int depth = 30000;
        QJsonArray elements;
        for (int i = 0; i < depth; ++i) {
            elements.append(QJsonObject{{QStringLiteral("t"), QStringLiteral("DIV")},
                                        {QStringLiteral("c"), QStringLiteral("result")},
                                        {QStringLiteral("e"), depth + 4}});
        }
        const auto leaf = [&](const QJsonObject& o) {
            QJsonObject e = o;
            e.insert(QStringLiteral("e"), elements.size() + 1);
            elements.append(e);
        };
        leaf({{QStringLiteral("t"), QStringLiteral("INPUT")}});
        leaf({{QStringLiteral("t"), QStringLiteral("H3")},
              {QStringLiteral("x"), QStringLiteral("Deep")}});
        leaf({{QStringLiteral("t"), QStringLiteral("A")},
              {QStringLiteral("x"), QStringLiteral("Abstract")}});
        leaf({{QStringLiteral("t"), QStringLiteral("A")},
              {QStringLiteral("ti"), QStringLiteral("Full text")},
              {QStringLiteral("hr"), QStringLiteral("javascript:f('/deep')")}});
        const QJsonObject snapshot{{QStringLiteral("url"), QStringLiteral("http://h/r")},
                                   {QStringLiteral("els"), elements}};
        const auto deep = PageDocument::fromJson(QJsonDocument(snapshot).toJson());
        QVERIFY(deep);
        QCOMPARE(deep->size(), depth + 4);
        const QList<ParsedHit> deepHits = ParseResultHits(*deep, false);
        QCOMPARE(deepHits.size(), depth);
        QCOMPARE(deepHits.first().title, QStringLiteral("Deep"));
        QCOMPARE(deepHits.last().link, QStringLiteral("http://h/deep"));
        RecordListModel records;
        QCOMPARE(ParseResultPage(*deep, false, QStringLiteral("/p/"), records), 1);
    }

    void nextPageLink() {
        PageDocument doc(QStringLiteral("http://h/r"));
        doc.add({.tagName = QStringLiteral("A"), .innerText = QStringLiteral("next>")});
        doc.add({.tagName = QStringLiteral("A"), .innerText = QStringLiteral("  NeXt >  ")});
        doc.add({.tagName = QStringLiteral("A"), .innerText = QStringLiteral("next >")});
        QCOMPARE(FindNextPageLink(doc), 1);
        PageDocument none(QStringLiteral("http://h/r"));
        none.add({.tagName = QStringLiteral("A"), .innerText = QStringLiteral("next>")});
        QCOMPARE(FindNextPageLink(none), -1);
    }
};

QM_TEST_GUILESS_MAIN(TestResultParser)
#include "tst_result_parser.moc"
