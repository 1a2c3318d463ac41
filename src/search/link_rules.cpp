#include "search/link_rules.h"

#include "app/page_document.h"
#include "app/site_config.h"

#include <QUrl>

namespace {

namespace Marker = SiteConfig::PublisherMarker;

const QString Amp = QStringLiteral("&amp;");

QString TrimEnds(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).isSpace())
        ++begin;
    while (end > begin && text.at(end - 1).isSpace())
        --end;
    return text.mid(begin, end - begin);
}

bool Has(const QString& value, QLatin1StringView part) {
    return value.contains(part, Qt::CaseInsensitive);
}

// The rules' tests; values arrive lower-cased where the rules compare lower-cased.
bool ScienceDirect(const AnchorValues& a) {
    return (a.text.startsWith(u"download pdf") && a.title == u"download pdf") ||
           (a.text.startsWith(u"download full text in pdf") &&
            a.title == u"download full text in pdf");
}

bool JapaneseSocieties(const AnchorValues& a) {
    return (a.text.startsWith(u"本文pdf") || a.text.startsWith(u"full text pdf")) &&
           a.href.right(5).toLower() == u"/_pdf";
}

bool Cnki(const AnchorValues& a) {
    return a.text == u"pdf下载" && Has(a.href, QLatin1StringView("download.aspx?"));
}

bool Wanfang(const AnchorValues& a) {
    return a.title == u"下载全文" && Has(a.html, QLatin1StringView("icon-download"));
}

bool Springer(const AnchorValues& a) {
    return a.squeezed.startsWith(u"downloadpdf") &&
           Has(a.html, QLatin1StringView("download-pdf-size"));
}

bool Acs(const AnchorValues& a) {
    return a.squeezed.startsWith(u"pdf(") && Has(a.title, QLatin1StringView("high-res pdf"));
}

bool FullTextPdf(const AnchorValues& a) {
    return a.squeezed == u"fulltext(pdf)";
}

bool Iop(const AnchorValues& a) {
    return a.squeezed == u"articlepdf" && Has(a.cls, QLatin1StringView("pdf-button-main"));
}

bool Wiley(const AnchorValues& a) {
    return a.squeezed.startsWith(u"getpdf(") &&
           Has(a.title, QLatin1StringView("article in pdf format"));
}

bool Maney(const AnchorValues& a) {
    return a.squeezed.isEmpty() && Has(a.html, QLatin1StringView("pdfdownload.png"));
}

bool Hindawi(const AnchorValues& a) {
    return a.squeezed == u"full-textpdf" && Has(a.cls, QLatin1StringView("full_text_pdf"));
}

bool Nejm(const AnchorValues& a) {
    return RemoveAnySpaces(a.cls) == u"zone-tool-articlepdf" && a.text == u"pdf";
}

AnchorValues ValuesOf(const PageElement& e) {
    AnchorValues v;
    v.text = TrimAnySpaces(e.innerText).toLower();
    v.squeezed = RemoveAnySpaces(v.text);
    v.title = TrimAnySpaces(e.title).toLower();
    v.href = TrimEnds(e.href);
    v.html = e.innerHTML.toLower();
    v.cls = TrimAnySpaces(e.className).toLower();
    return v;
}

// The address a found link gives for download: relative ones resolved against
// the page, and only web addresses, so a page cannot hand over a local file or
// a script. Empty when it gives none.
QString DownloadAddress(const QString& pageAddress, QString found) {
    found.replace(Amp, QStringLiteral("&"));
    if (found.isEmpty())
        return {};
    QUrl url(found);
    if (url.isRelative()) {
        url = QUrl(pageAddress).resolved(url);
        found = url.toString();
    }
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https"))
        return {};
    return found;
}

bool GatePasses(const PublisherRule& rule, const QString& address) {
    for (const QString& marker : rule.markers) {
        if (address.contains(marker, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

} // namespace

QString TrimAnySpaces(const QString& text) {
    QString out = TrimEnds(text);
    for (QChar& c : out) {
        if (c.isSpace())
            c = u' ';
    }
    return out;
}

QString RemoveAnySpaces(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (!c.isSpace())
            out.append(c);
    }
    return out;
}

const QList<PublisherRule>& PublisherRules() {
    static const QList<PublisherRule> rules = {
        {QStringLiteral("ScienceDirect"), {Marker::ScienceDirect}, &ScienceDirect},
        {QStringLiteral("Japan Institute of Energy / Society of Chemical Engineers, Japan"),
         {Marker::JapanInstituteOfEnergy, Marker::ChemicalEngineersJapan},
         &JapaneseSocieties},
        {QStringLiteral("CNKI"), {Marker::Cnki}, &Cnki},
        {QStringLiteral("Wanfang Data"), {Marker::Wanfang}, &Wanfang},
        {QStringLiteral("Springer"), {Marker::Springer}, &Springer},
        {QStringLiteral("ACS Publications"), {Marker::Acs}, &Acs},
        {QStringLiteral("ECS Digital Library"), {Marker::Ecs}, &FullTextPdf},
        {QStringLiteral("IOP Publishing"), {Marker::Iop}, &Iop},
        {QStringLiteral("Wiley Online Library"), {Marker::Wiley}, &Wiley},
        {QStringLiteral("Maney Online"), {Marker::Maney}, &Maney},
        {QStringLiteral("Hindawi"), {Marker::Hindawi}, &Hindawi},
        {QStringLiteral("The New England Journal of Medicine"), {Marker::Nejm}, &Nejm},
        {QStringLiteral("Science"), {Marker::Science}, &FullTextPdf},
    };
    return rules;
}

PdfLinkFind FindPdfLink(const PageDocument& document) {
    const QString address = document.URL();
    PdfLinkFind find;
    QList<AnchorValues> anchors; // read once, on the first gate that passes
    for (const PublisherRule& rule : PublisherRules()) {
        if (!GatePasses(rule, address))
            continue;
        if (!find.publisherPage) {
            for (int a : document.getElementsByTagName(QStringLiteral("A")))
                anchors.append(ValuesOf(document.at(a)));
            find.publisherPage = true;
        }
        for (const AnchorValues& anchor : std::as_const(anchors)) {
            // A link that is no web address is no PDF, however it reads.
            const QString found =
                rule.matches(anchor) ? DownloadAddress(address, anchor.href) : QString();
            if (!found.isEmpty()) {
                find.address = found;
                break;
            }
        }
    }
    // Citation metadata, on every page, has the last word.
    for (int m : document.getElementsByTagName(QStringLiteral("meta"))) {
        const PageElement& meta = document.at(m);
        if (RemoveAnySpaces(meta.name).toLower() != u"citation_pdf_url")
            continue;
        const QString found = DownloadAddress(address, TrimEnds(meta.content));
        if (found.isEmpty())
            continue;
        find.address = found;
        break;
    }
    return find;
}

QString FindPdfAddress(const PageDocument& document) {
    return FindPdfLink(document).address;
}
