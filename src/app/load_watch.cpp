#include "app/load_watch.h"

#include "app/browser_page.h"
#include "app/run_javascript.h"
#include "tools/time_limits.h"

bool SameAddress(const QUrl& a, const QUrl& b) {
    const auto form = QUrl::RemoveFragment | QUrl::NormalizePathSegments;
    return a.adjusted(form) == b.adjusted(form);
}

LoadWatch::LoadWatch(BrowserPage* page, QObject* parent)
    : QObject(parent)
    , page_(page) {
    connect(page, &BrowserPage::MainFrameNavigation, this, [this](const QUrl& url) {
        target_ = url;
        ++navigations_;
        emit changed();
    });
    connect(page, &BrowserPage::DocumentComplete, this, &LoadWatch::changed);
    // Only the end of the load asked for counts: the blank page or an earlier
    // page cut short by it ends without a document as well.
    connect(page, &BrowserPage::LoadEndedWithoutDocument, this, [this](const QUrl& url) {
        if (!expected(url))
            return;
        endedAt_ = navigations_;
        sinceEnd_.start();
        // The engine names a download only just after the load it ended.
        QTimer::singleShot(TimeLimits::DownloadOfferGrace, this, &LoadWatch::changed);
        emit changed();
    });
    connect(page, &BrowserPage::DownloadOffered, this,
            [this](const QUrl& url, const QString& type) {
                if (!expected(url))
                    return;
                endedAt_ = navigations_;
                sinceEnd_.start();
                downloadUrl_ = url;
                downloadType_ = type;
                emit changed();
            });
    connect(page, &QObject::destroyed, this, &LoadWatch::changed);
    // A load that ran into another one may report nothing of its own end.
    connect(&poll_, &QTimer::timeout, this, &LoadWatch::changed);
    poll_.start(TimeLimits::PagePoll);
}

void LoadWatch::expect(const QUrl& url) {
    target_ = url;
    navigations_ = 0;
    endedAt_ = -1;
    downloadUrl_.clear();
    downloadType_.clear();
}

bool LoadWatch::endedWithoutDocument() const {
    if (endedAt_ < 0 || endedAt_ != navigations_ || !page_ || page_->isLoading())
        return false;
    return !downloadUrl_.isEmpty() ||
           std::chrono::milliseconds(sinceEnd_.elapsed()) >= TimeLimits::DownloadOfferGrace;
}

bool LoadWatch::expected(const QUrl& document) const {
    if (SameAddress(document, target_))
        return true;
    if (IsAboutBlank(target_) || IsAboutBlank(document) || document.isEmpty())
        return false;
    for (const QUrl& earlier : passedOver_) {
        if (SameAddress(document, earlier))
            return false;
    }
    return true; // a redirect's end, or a page that rewrote its own address
}

QCoro::Task<bool> LoadWatch::loaded() {
    QPointer<LoadWatch> self = this;
    if (!page_ || page_->isLoading())
        co_return false;
    const ScriptReply state =
        co_await page_->Ask(QStringLiteral("document.readyState + ' ' + document.URL"));
    if (!self || !page_ || page_->isLoading())
        co_return false;
    const QString text = state.value.toString();
    const qsizetype space = text.indexOf(u' ');
    if (space < 0 || text.left(space) != u"complete")
        co_return false;
    co_return expected(QUrl(text.mid(space + 1)));
}
