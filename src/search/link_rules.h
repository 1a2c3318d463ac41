#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class PageDocument;

// What the publisher rules read of one anchor, prepared once: every Unicode
// space and line break counts as a space for trimming and squeezing.
struct AnchorValues {
    QString text;     // innerText, trimmed, lower-cased
    QString squeezed; // the same with every space removed
    QString title;    // trimmed, lower-cased
    QString href;     // trimmed, as the page gives it
    QString html;     // innerHTML, lower-cased
    QString cls;      // className, trimmed, lower-cased
};

// One publisher: the page address must contain one of the markers (letter case
// ignored), and the first anchor that passes the test gives the address.
struct PublisherRule {
    QString publisher;
    QStringList markers;
    bool (*matches)(const AnchorValues& anchor);
};

// The publisher rules in the order they are applied.
const QList<PublisherRule>& PublisherRules();

// What the rules found on a landing page.
struct PdfLinkFind {
    QString address;            // the PDF address, or empty text
    bool publisherPage = false; // some publisher rule's marker was in the page address
};

// The PDF address a landing page offers: every publisher rule whose marker the
// page address holds is applied in table order, a later find replacing an
// earlier one; a citation_pdf_url meta element replaces them all. Only http and
// https addresses count (relative ones resolved against the page); a link or
// meta element with any other address is passed over.
PdfLinkFind FindPdfLink(const PageDocument& document);
// The same, the address alone.
QString FindPdfAddress(const PageDocument& document);

// text with every Unicode space and line break made a plain space, then trimmed.
QString TrimAnySpaces(const QString& text);
// text without any Unicode space or line break.
QString RemoveAnySpaces(const QString& text);
