#include "search/pdf_link_resolver.h"

#include "app/browser_page.h"
#include "app/load_watch.h"
#include "app/page_document.h"
#include "app/resource_blocker.h"
#include "search/link_rules.h"
#include "search/search_flags.h"
#include "tools/time_limits.h"
#include "tools/wait.h"

#include <QRegularExpression>

using namespace std::chrono;

namespace {

// The rules read links and meta elements only: the hidden browser's snapshot
// takes nothing else, so a huge page is read in time.
QStringList SnapshotTags() {
    return {QStringLiteral("A"), QStringLiteral("META")};
}
QStringList HeavySnapshotTags() {
    return {QStringLiteral("A")};
}

milliseconds Left(const QDeadlineTimer& deadline) {
    return duration_cast<milliseconds>(deadline.remainingTimeAsDuration());
}

int RefusedStyleSheets(const BrowserPage* page) {
    return page && page->resourceBlocker() ? page->resourceBlocker()->refusedStyleSheets() : 0;
}

bool IsPdfType(const QString& type) {
    return type.trimmed().compare(QStringLiteral("application/pdf"), Qt::CaseInsensitive) == 0;
}

} // namespace

PdfLinkResolver::PdfLinkResolver(BrowserPage* hiddenBrowser, SearchFlags& flags, QObject* parent)
    : QObject(parent)
    , browser_(hiddenBrowser)
    , flags_(flags) {}

BrowserPage* PdfLinkResolver::browser() const {
    return browser_;
}

void PdfLinkResolver::PrepareHiddenBrowser(BrowserPage* page) {
    page->setSilent(true);
    page->setKeepFramedPages(true);
    page->setScriptBlockers(true);
    page->setBlockHeavyResources(true);
    page->setRefuseDownloads(true);
}

std::optional<milliseconds> RefreshRedirectDelay(const PageDocument& document) {
    if (document.firstFrameReachable())
        return std::nullopt; // framed pages stay as first loaded
    static const QRegularExpression form(
        QStringLiteral(R"(^\s*(\d+(?:\.\d*)?)?\s*[;,]?\s*url\s*=\s*\S)"),
        QRegularExpression::CaseInsensitiveOption);
    for (int m : document.getElementsByTagName(QStringLiteral("meta"))) {
        const PageElement& meta = document.at(m);
        if (meta.httpEquiv.trimmed().compare(QStringLiteral("refresh"), Qt::CaseInsensitive) != 0)
            continue;
        const QRegularExpressionMatch match = form.match(meta.content);
        if (!match.hasMatch())
            return std::nullopt; // a reload of the same page, not a redirect
        const milliseconds delay(qint64(match.captured(1).toDouble() * 1000.0));
        if (delay > TimeLimits::RefreshRedirectDelay)
            return std::nullopt;
        return delay;
    }
    return std::nullopt;
}

QCoro::Task<QString> PdfLinkResolver::获取PDF下载网址(QString fullTextLink) {
    QPointer<PdfLinkResolver> self = this;
    fullTextLink.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    if (!browser_)
        co_return QString();
    // A page an earlier link left hung would hold this one up as well.
    if (browser_->Unresponsive())
        browser_->Revive();
    LoadWatch watch(browser_);
    QObject::connect(&flags_, &SearchFlags::changed, &watch, &LoadWatch::changed);
    // A stop also ends the waits for the page's answers.
    QObject::connect(&flags_, &SearchFlags::changed, &watch, [flags = &flags_, page = browser_] {
        if (flags->StopAnalysis() && page)
            page->CutScriptWaits();
    });
    const QUrl previous = browser_->url();
    const QUrl wanted = QUrl::fromUserInput(fullTextLink.trimmed());
    const int styleSheetsBefore = RefusedStyleSheets(browser_);
    const Landing landing =
        co_await load(watch, fullTextLink, TimeLimits::Scaled(TimeLimits::LandingPageLoad));
    if (!self || !browser_)
        co_return QString();
    flags_.setHiddenPageLoading(!landing.loaded && !watch.endedWithoutDocument());
    // A link that is a PDF itself: the engine offers it for download instead of showing it.
    if (!watch.downloadUrl().isEmpty()) {
        const QUrl pdf = watch.downloadUrl();
        co_return IsPdfType(watch.downloadType()) && IsWebAddress(pdf) ? pdf.toString() : QString();
    }
    if (browser_->Unresponsive()) {
        browser_->Revive();
        co_return QString();
    }
    // Stopped before the link's page arrived, the browser may still show the
    // previous record's page: its PDF is not this record's. A completed load may
    // well end at the same landing page as the previous record's link did.
    if (!landing.document ||
        (!landing.loaded && SameAddress(QUrl(landing.document->URL()), previous) &&
         !SameAddress(previous, wanted)))
        co_return QString();
    PdfLinkFind find = FindPdfLink(*landing.document);
    // Text that a refused style sheet would hide (a label for screen readers)
    // becomes part of a link's text, so a publisher's exact text test fails:
    // such a page is read once more with its style sheets.
    if (find.address.isEmpty() && find.publisherPage && landing.loaded &&
        RefusedStyleSheets(browser_) > styleSheetsBefore && !flags_.StopAnalysis() &&
        !landing.deadline.hasExpired())
        find.address =
            co_await readWithStyleSheets(watch, landing.document->URL(), landing.deadline);
    co_return find.address;
}

QCoro::Task<PdfLinkResolver::Landing>
PdfLinkResolver::load(LoadWatch& watch, QString address, milliseconds limit, QDeadlineTimer cap) {
    QPointer<PdfLinkResolver> self = this;
    const auto deadline = [&] {
        const QDeadlineTimer own(limit);
        return own.deadline() < cap.deadline() ? own : cap;
    };
    const auto over = [&](const QDeadlineTimer& until) {
        return !self || !browser_ || flags_.StopAnalysis() || until.hasExpired() ||
               browser_->Unresponsive();
    };

    // The page shown before goes first, so nothing of it is read for this address.
    watch.passOver(browser_->url());
    const QDeadlineTimer blankDeadline = deadline();
    flags_.setHiddenPageLoading(true);
    watch.expect(browser_->Navigate(QStringLiteral("about:blank")));
    while (!over(blankDeadline)) {
        if (co_await watch.loaded())
            break;
        if (!over(blankDeadline))
            co_await WaitForSignal(&watch, &LoadWatch::changed, Left(blankDeadline));
    }
    if (!self || !browser_)
        co_return Landing{};

    // Only web documents are loaded: a script or data address would run or show
    // whatever its text says, and a page must not make us read local files.
    const QUrl wanted = QUrl::fromUserInput(address.trimmed());
    if (!IsWebAddress(wanted) && !(localFilesAllowed_ && wanted.isLocalFile())) {
        flags_.setHiddenPageLoading(false);
        co_return Landing{};
    }
    const QDeadlineTimer landingDeadline = deadline();
    flags_.setHiddenPageLoading(true);
    watch.expect(browser_->Navigate(address));
    co_return co_await awaitLanding(watch, landingDeadline);
}

QCoro::Task<PdfLinkResolver::Landing> PdfLinkResolver::awaitLanding(LoadWatch& watch,
                                                                    QDeadlineTimer deadline) {
    QPointer<PdfLinkResolver> self = this;
    // Every wait ends at once when the window went away, a stop was asked for or
    // the page stopped answering.
    const auto over = [&] {
        return !self || !browser_ || flags_.StopAnalysis() || deadline.hasExpired() ||
               browser_->Unresponsive();
    };
    Landing landing;
    landing.deadline = deadline;
    while (!over()) {
        landing.loaded = co_await watch.loaded();
        if (over())
            break;
        if (!landing.loaded) {
            if (watch.endedWithoutDocument())
                break; // a download or no content: no page will come
            co_await WaitForSignal(&watch, &LoadWatch::changed, Left(deadline));
            continue;
        }
        const int navigations = watch.navigations();
        landing.document = co_await browser_->Document(HeavySnapshotTags(), SnapshotTags());
        if (!self || !browser_)
            co_return Landing{};
        if (watch.navigations() != navigations) {
            landing = Landing{std::nullopt, false, deadline}; // the next page started meanwhile
            continue;
        }
        const auto refresh =
            landing.document ? RefreshRedirectDelay(*landing.document) : std::nullopt;
        if (!refresh)
            break;
        // A refresh that leads elsewhere: its page is the landing page.
        const QDeadlineTimer refreshEnds(*refresh +
                                         TimeLimits::Scaled(TimeLimits::RefreshStartGrace));
        while (!over() && watch.navigations() == navigations && !refreshEnds.hasExpired())
            co_await WaitForSignal(&watch, &LoadWatch::changed,
                                   std::min(Left(deadline), Left(refreshEnds)));
        if (!self || !browser_)
            co_return Landing{};
        if (watch.navigations() == navigations)
            break; // the refresh never came: read the page as it is
        landing = Landing{std::nullopt, false, deadline};
    }
    if (!self || !browser_)
        co_return Landing{};
    if (!landing.document && !browser_->Unresponsive() && !watch.endedWithoutDocument()) {
        // The rules read whatever the page holds; after a stop, a page that keeps
        // its renderer busy gets a moment only.
        const auto limit = flags_.StopAnalysis()
                               ? std::optional<milliseconds>(TimeLimits::StoppedPageAnswer)
                               : std::nullopt;
        landing.document = co_await browser_->Document(HeavySnapshotTags(), SnapshotTags(), limit);
        if (!self)
            co_return Landing{};
    }
    co_return landing;
}

QCoro::Task<QString> PdfLinkResolver::readWithStyleSheets(LoadWatch& watch, QString address,
                                                          QDeadlineTimer deadline) {
    QPointer<PdfLinkResolver> self = this;
    QPointer<BrowserPage> page = browser_;
    page->setStyleSheetsAllowed(true);
    const Landing again = co_await load(watch, address, Left(deadline), deadline);
    if (page)
        page->setStyleSheetsAllowed(false);
    if (!self || !browser_ || !again.document || !watch.downloadUrl().isEmpty())
        co_return QString();
    if (browser_->Unresponsive()) {
        browser_->Revive();
        co_return QString();
    }
    co_return FindPdfAddress(*again.document);
}
