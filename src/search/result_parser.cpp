#include "search/result_parser.h"

#include "app/page_document.h"
#include "app/site_config.h"
#include "search/record_list.h"
#include "tools/text_utils.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

const QString GatewayMarker = QStringLiteral("DanaMethodOpen('open',window,'");

QString TitleOf(const PageElement& heading) {
    // A title broken over lines (a <br> in the heading) stays one line: the
    // list, the export and the file names all take it as one.
    static const QRegularExpression lineBreaks(
        QStringLiteral("[ \\t]*[\\r\\n\\x{0}\\x{2028}\\x{2029}]+[ \\t]*"));
    QString title = TrimSpaces(heading.innerText);
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

// The elements of one tag in page order. A block's descendants are one run of
// positions, so each block costs a binary search, not a walk of its subtree:
// result blocks nested thousands deep would otherwise freeze the window.
class TagRun {
public:
    TagRun(const PageDocument& doc, const QString& tag)
        : list_(doc.getElementsByTagName(tag)) {}

    // Position in the list of the first element within [from, to), or -1.
    qsizetype firstWithin(int from, int to) const {
        const qsizetype i = std::lower_bound(list_.begin(), list_.end(), from) - list_.begin();
        return i < list_.size() && list_.at(i) < to ? i : -1;
    }
    const QList<int>& list() const { return list_; }

private:
    QList<int> list_;
};

} // namespace

QList<ParsedHit> ParseResultHits(const PageDocument& doc, bool checkedOnly) {
    QList<ParsedHit> hits;
    const QString root = SiteRoot(doc.URL());
    const TagRun inputs(doc, QStringLiteral("INPUT"));
    const TagRun headings(doc, QStringLiteral("H3"));
    const TagRun anchors(doc, QStringLiteral("A"));
    // nextIcon[i]: position of the first full-text icon among anchors i, i+1, ...
    const qsizetype anchorCount = anchors.list().size();
    QList<qsizetype> nextIcon(anchorCount + 1, anchorCount);
    for (qsizetype i = anchorCount - 1; i >= 0; --i)
        nextIcon[i] = IsFullTextIcon(doc.at(anchors.list().at(i))) ? i : nextIcon[i + 1];

    for (int block : doc.getElementsByTagName(QStringLiteral("DIV"))) {
        const QString cls = doc.at(block).className.toLower();
        if (cls != u"result" && cls != u"result odd")
            continue;
        const int from = block + 1;
        const int to = doc.subtreeEnd(block);
        const qsizetype input = inputs.firstWithin(from, to);
        if (input < 0)
            continue;
        if (checkedOnly && !doc.at(inputs.list().at(input)).checked)
            continue;
        const qsizetype heading = headings.firstWithin(from, to);
        const QString title =
            heading < 0 ? QString() : TitleOf(doc.at(headings.list().at(heading)));
        // The block's first anchor is never the full-text icon.
        QString link;
        const qsizetype first = anchors.firstWithin(from, to);
        if (first >= 0) {
            const qsizetype icon = nextIcon.at(first + 1);
            if (icon < anchorCount && anchors.list().at(icon) < to)
                link = LinkFromHref(TrimSpaces(doc.at(anchors.list().at(icon)).href), root);
        }
        link.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
        if (title.isEmpty() || link.isEmpty())
            continue;
        hits.append({title, link});
    }
    return hits;
}

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
