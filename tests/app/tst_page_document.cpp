#include "app/page_document.h"
#include "test_main.h"

class TestPageDocument : public QObject {
    Q_OBJECT

private slots:
    void builtDocumentsAnswerLikeThePage() {
        PageDocument doc(QStringLiteral("http://x/"));
        doc.begin({.tagName = QStringLiteral("DIV"), .className = QStringLiteral("result")});
        doc.add({.tagName = QStringLiteral("INPUT"), .checked = true});
        doc.begin({.tagName = QStringLiteral("H3")});
        doc.add({.tagName = QStringLiteral("A"), .id = QStringLiteral("inner")});
        doc.end();
        doc.end();
        doc.begin({.tagName = QStringLiteral("DIV")});
        doc.add({.tagName = QStringLiteral("A")});
        doc.end();

        QCOMPARE(doc.URL(), QStringLiteral("http://x/"));
        const QList<int> divs = doc.getElementsByTagName(QStringLiteral("div"));
        QCOMPARE(divs.size(), 2);
        // Only descendants count, in document order.
        QCOMPARE(doc.getElementsByTagName(divs.at(0), QStringLiteral("A")).size(), 1);
        QCOMPARE(doc.getElementsByTagName(divs.at(1), QStringLiteral("a")).size(), 1);
        QCOMPARE(doc.getElementsByTagName(divs.at(0), QStringLiteral("*")).size(), 3);
        QCOMPARE(doc.getElementsByTagName(divs.at(1), QStringLiteral("INPUT")).size(), 0);
        QCOMPARE(doc.at(doc.getElementsByTagName(QStringLiteral("A")).at(1)).tagIndex, 1);
        QCOMPARE(doc.getElementById(QStringLiteral("inner")), 3);
        QCOMPARE(doc.getElementById(QStringLiteral("none")), -1);
        QCOMPARE(doc.getElementsByTagName(99, QStringLiteral("A")).size(), 0);
        // Missing members read as empty.
        QCOMPARE(doc.at(divs.at(1)).className, QString());
    }

    void snapshotJsonIsReadDefensively() {
        QVERIFY(!PageDocument::fromJson("not json"));
        QVERIFY(!PageDocument::fromJson("[1,2]"));
        const auto doc = PageDocument::fromJson(
            R"J({"url":"u","frame":true,"els":[{"t":"DIV","i":0,"e":99},{"t":"A","i":0,"hr":"javascript:go('x')","x":"t","e":-5}]})J");
        QVERIFY(doc);
        QVERIFY(doc->firstFrameReachable());
        QCOMPARE(doc->size(), 2);
        // An end past the list is cut back to it.
        QCOMPARE(doc->getElementsByTagName(0, QStringLiteral("A")).size(), 1);
        QCOMPARE(doc->getElementsByTagName(1, QStringLiteral("*")).size(), 0);
        QCOMPARE(doc->at(1).href, QStringLiteral("javascript:go('x')"));
    }
};

QM_TEST_GUILESS_MAIN(TestPageDocument)
#include "tst_page_document.moc"
