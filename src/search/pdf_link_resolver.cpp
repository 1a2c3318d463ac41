#include "search/pdf_link_resolver.h"

#include "app/browser_page.h"
#include "app/load_watch.h"
#include "app/page_document.h"
#include "search/link_rules.h"
#include "search/search_flags.h"
#include "tools/time_limits.h"
#include "tools/wait.h"

#include <QElapsedTimer>
#include <QRegularExpression>

using namespace std::chrono;

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
    LoadWatch watch(browser_);
    QObject::connect(&flags_, &SearchFlags::changed, &watch, &LoadWatch::changed);
    const milliseconds limit = TimeLimits::Scaled(TimeLimits::LandingPageLoad);
    QElapsedTimer clock;
    const auto left = [&] { return limit - milliseconds(clock.elapsed()); };
    // Every wait ends at once when the window went away or a stop was asked for.
    const auto over = [&] {
        return !self || !browser_ || flags_.StopAnalysis() || left() <= milliseconds(0);
    };

    // The previous landing page goes first, so nothing of it is read for this link.
    const QUrl previous = browser_->url();
    watch.passOver(previous);
    clock.start();
    flags_.setHiddenPageLoading(true);
    watch.expect(browser_->Navigate(QStringLiteral("about:blank")));
    while (!over()) {
        if (co_await watch.loaded())
            break;
        if (!over())
            co_await WaitForSignal(&watch, &LoadWatch::changed, left());
    }
    if (!self || !browser_)
        co_return QString();

    // Only documents are loaded: a script or data address would run or show
    // whatever its text says, and never finish as a load.
    const QUrl wanted = QUrl::fromUserInput(fullTextLink.trimmed());
    const QString scheme = wanted.scheme().toLower();
    if (!IsWebAddress(wanted) && scheme != u"file") {
        flags_.setHiddenPageLoading(false);
        co_return QString();
    }
    clock.restart();
    flags_.setHiddenPageLoading(true);
    watch.expect(browser_->Navigate(fullTextLink));
    std::optional<PageDocument> document;
    bool loaded = false;
    while (!over()) {
        loaded = co_await watch.loaded();
        if (over())
            break;
        if (!loaded) {
            co_await WaitForSignal(&watch, &LoadWatch::changed, left());
            continue;
        }
        const int navigations = watch.navigations();
        document = co_await browser_->Document();
        if (!self || !browser_)
            co_return QString();
        if (watch.navigations() != navigations)
            continue; // the next page started meanwhile
        const auto refresh = document ? RefreshRedirectDelay(*document) : std::nullopt;
        if (!refresh)
            break;
        // A refresh that leads elsewhere: its page is the landing page.
        const auto refreshEnds = milliseconds(clock.elapsed()) + *refresh +
                                 TimeLimits::Scaled(TimeLimits::RefreshStartGrace);
        while (!over() && watch.navigations() == navigations &&
               milliseconds(clock.elapsed()) < refreshEnds) {
            co_await WaitForSignal(&watch, &LoadWatch::changed,
                                   std::min(left(), refreshEnds - milliseconds(clock.elapsed())));
        }
        if (!self || !browser_)
            co_return QString();
        if (watch.navigations() == navigations)
            break; // the refresh never came: read the page as it is
        document.reset();
        loaded = false;
    }
    if (!self || !browser_)
        co_return QString();
    flags_.setHiddenPageLoading(!loaded);
    if (!document || !loaded) {
        document = co_await browser_->Document();
        if (!self)
            co_return QString();
    }
    // Stopped before the link's page arrived, the browser may still show the
    // previous record's page: its PDF is not this record's.
    if (!document ||
        (SameAddress(QUrl(document->URL()), previous) && !SameAddress(previous, wanted)))
        co_return QString();
    co_return FindPdfAddress(*document);
}
