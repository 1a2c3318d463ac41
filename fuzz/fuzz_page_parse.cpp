// A page snapshot as the browser hands it over (JSON from a hostile page) into a
// PageDocument, then the result parser and the full-text rules on it.
#include "app/page_document.h"
#include "fuzz_support.h"
#include "search/link_rules.h"
#include "search/record_list.h"
#include "search/result_parser.h"

#include <QSet>
#include <QUrl>

namespace {

void CheckDocument(const PageDocument& doc) {
    for (int i = 0; i < doc.size(); ++i) {
        for (int child : doc.getElementsByTagName(i, QStringLiteral("*")))
            FUZZ_CHECK(child > i && child < doc.size());
    }
    const int id = doc.getElementById(QStringLiteral("x"));
    FUZZ_CHECK(id == -1 || (id < doc.size() && doc.at(id).id == u"x"));
}

void CheckRecords(const PageDocument& doc) {
    RecordListModel records;
    const QString folder = QStringLiteral("/papers/");
    const int added = ParseResultPage(doc, false, folder, records);
    FUZZ_CHECK(added == records.count());
    for (int row = 1; row <= records.count(); ++row) {
        const SearchRecord& r = records.record(row);
        FUZZ_CHECK(!r.title.isEmpty() && !r.link.isEmpty());
        // A title is one line in the list, the export and the file names.
        for (QChar c : {QChar(u'\r'), QChar(u'\n'), QChar(0), QChar(0x2028), QChar(0x2029)})
            FUZZ_CHECK(!r.title.contains(c));
        FUZZ_CHECK(records.rowOfLink(r.link) == row);
        FUZZ_CHECK(r.type == u"pdf" && r.folder == folder);
    }
    // The ticked hits are among all hits: a second pass over them adds nothing.
    FUZZ_CHECK(ParseResultPage(doc, true, folder, records) == 0);
    FUZZ_CHECK(ParseResultHits(doc, true).size() <= ParseResultHits(doc, false).size());
}

// The full-text rules never make an address up: it is an anchor's, or the
// citation meta element's (made absolute against the page).
bool PdfAddressComesFromThePage(const PageDocument& doc, const QString& pdf) {
    if (pdf.isEmpty())
        return true;
    const auto cleaned = [](const QString& text) {
        return text.trimmed().replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    };
    // Only a web address, as written on the page or resolved against it.
    const QUrl url(pdf);
    const QString scheme = url.scheme().toLower();
    if (url.host().isEmpty() || (scheme != u"http" && scheme != u"https"))
        return false;
    QSet<QString> candidates;
    for (int a : doc.getElementsByTagName(QStringLiteral("A"))) {
        for (const QString& href :
             {cleaned(doc.at(a).href),
              QString(doc.at(a).href).replace(QStringLiteral("&amp;"), QStringLiteral("&"))}) {
            candidates.insert(href);
            candidates.insert(QUrl(doc.URL()).resolved(QUrl(href)).toString());
        }
    }
    for (int m : doc.getElementsByTagName(QStringLiteral("meta"))) {
        if (RemoveAnySpaces(doc.at(m).name).toLower() != u"citation_pdf_url")
            continue;
        const QString content = cleaned(doc.at(m).content);
        candidates.insert(content);
        candidates.insert(QUrl(doc.URL()).resolved(QUrl(content)).toString());
    }
    return candidates.contains(pdf);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto doc = PageDocument::fromJson(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!doc)
        return 0;
    CheckDocument(*doc);
    CheckRecords(*doc);
    const int next = FindNextPageLink(*doc);
    FUZZ_CHECK(next == -1 || (next < doc->size() &&
                              doc->at(next).tagName.compare(u"A", Qt::CaseInsensitive) == 0));
    FUZZ_CHECK(PdfAddressComesFromThePage(*doc, FindPdfAddress(*doc)));
    return 0;
}
