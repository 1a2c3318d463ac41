#pragma once

#include <QList>
#include <QString>

class PageDocument;
class RecordListModel;

// Scheme and host of an address ("scheme://host/path" gives "scheme://host").
QString SiteRoot(const QString& address);

struct ParsedHit {
    QString title;
    QString link;
};

// The hits of a result page, in page order; only ticked ones when checkedOnly.
QList<ParsedHit> ParseResultHits(const PageDocument& document, bool checkedOnly);

// Appends the page's hits to records (type "pdf", the given save folder);
// links already listed are left alone. Returns how many were added.
int ParseResultPage(const PageDocument& document, bool checkedOnly, const QString& saveFolder,
                    RecordListModel& records);

// Index of the first anchor whose text is "next >" (case and outer spaces
// ignored), or -1.
int FindNextPageLink(const PageDocument& document);
