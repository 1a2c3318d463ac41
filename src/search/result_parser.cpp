#include "search/result_parser.h"

#include "app/page_document.h"
#include "app/site_config.h"
#include "search/record_list.h"
#include "tools/text_utils.h"

#include <QRegularExpression>

namespace {

const QString GatewayMarker = QStringLiteral("DanaMethodOpen('open',window,'");

QString TitleOf(const PageDocument& doc, int block) {
    const QList<int> headings = doc.getElementsByTagName(block, QStringLiteral("H3"));
    if (headings.isEmpty())
        return {};
    // A title broken over lines (a <br> in the heading) stays one line: the
    // list, the export and the file names all take it as one.
    static const QRegularExpression lineBreaks(
        QStringLiteral("[ \\t]*[\\r\\n\\x{0}\\x{2028}\\x{2029}]+[ \\t]*"));
    QString title = TrimSpaces(doc.at(headings.first()).innerText);
    title = TrimSpaces(title.replace(lineBreaks, QStringLiteral(" ")));
    for (const char* tag : {"<sup>", "</sup>", "<inf>", "</inf>"})
        title.remove(QLatin1String(tag), Qt::CaseInsensitive);
    return title;
}

// An icon-only anchor: no text, and a "full text" title or a full-text picture.
bool IsFullTextIcon(const PageElement& a) {
    if (!TrimSpaces(a.innerText).isEmpty())
        return false;
    return a.title.toLower() == u"full text" ||
           TrimSpaces(a.innerHTML).contains(QStringLiteral("fulltext"), Qt::CaseInsensitive);
}

QString LinkFromHref(const QString& href, const QString& root) {
    const qsizetype gateway = href.indexOf(GatewayMarker, 0, Qt::CaseInsensitive);
    if (gateway >= 0) {
        const QString rest = href.mid(gateway + GatewayMarker.size());
        const qsizetype quote = rest.indexOf(u'\'');
        if (quote < 0)
            return {};
        QString link = root + rest.left(quote);
        if (!root.contains(SiteConfig::DatabaseDomain, Qt::CaseInsensitive)) {
            const qsizetype slash = link.lastIndexOf(u'/');
            if (slash >= 0)
                link.insert(slash + 1,
                            QStringLiteral(",DanaInfo=") + SiteConfig::DatabaseHost + u'+');
        }
        return link;
    }
    const qsizetype first = href.indexOf(u'\'');
    if (first < 0)
        return {};
    const qsizetype second = href.indexOf(u'\'', first + 1);
    if (second < 0)
        return {};
    return root + href.mid(first + 1, second - first - 1);
}

QString LinkOf(const PageDocument& doc, int block, const QString& root) {
    const QList<int> anchors = doc.getElementsByTagName(block, QStringLiteral("A"));
    // The block's first anchor is never the full-text icon.
    for (qsizetype i = 1; i < anchors.size(); ++i) {
        const PageElement& a = doc.at(anchors.at(i));
        if (!IsFullTextIcon(a))
            continue;
        return LinkFromHref(TrimSpaces(a.href), root);
    }
    return {};
}

} // namespace

QString SiteRoot(const QString& address) {
    const qsizetype scheme = address.indexOf(QStringLiteral("://"));
    if (scheme >= 0) {
        const qsizetype slash = address.indexOf(u'/', scheme + 3);
        return slash > scheme + 3 ? address.left(slash) : address;
    }
    const qsizetype slash = address.indexOf(u'/');
    // 1-based position greater than 3
    return slash + 1 > 3 ? address.left(slash) : address;
}

QList<ParsedHit> ParseResultHits(const PageDocument& doc, bool checkedOnly) {
    QList<ParsedHit> hits;
    const QString root = SiteRoot(doc.URL());
    for (int block : doc.getElementsByTagName(QStringLiteral("DIV"))) {
        const QString cls = doc.at(block).className.toLower();
        if (cls != u"result" && cls != u"result odd")
            continue;
        const QList<int> inputs = doc.getElementsByTagName(block, QStringLiteral("INPUT"));
        if (inputs.isEmpty())
            continue;
        if (checkedOnly && !doc.at(inputs.first()).checked)
            continue;
        const QString title = TitleOf(doc, block);
        QString link = LinkOf(doc, block, root);
        link.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
        if (title.isEmpty() || link.isEmpty())
            continue;
        hits.append({title, link});
    }
    return hits;
}

int ParseResultPage(const PageDocument& doc, bool checkedOnly, const QString& saveFolder,
                    RecordListModel& records) {
    int added = 0;
    for (const ParsedHit& hit : ParseResultHits(doc, checkedOnly)) {
        if (records.加入LV1(hit.title, hit.link, QStringLiteral("pdf"), saveFolder))
            ++added;
    }
    return added;
}

int FindNextPageLink(const PageDocument& doc) {
    for (int a : doc.getElementsByTagName(QStringLiteral("A"))) {
        if (TrimSpaces(doc.at(a).innerText).toLower() == u"next >")
            return a;
    }
    return -1;
}
