#pragma once

#include <QObject>
#include <QPointer>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

class BrowserPage;
class PageDocument;
class SearchFlags;

// Finds the PDF behind a record's full-text link: loads the link in the hidden
// browser, waits for the publisher's landing page and applies the link rules.
class PdfLinkResolver : public QObject {
    Q_OBJECT

public:
    PdfLinkResolver(BrowserPage* hiddenBrowser, SearchFlags& flags, QObject* parent = nullptr);

    // Makes page work as the hidden browser: no script dialogs, framed pages
    // kept as first loaded, and only what the rules read is loaded.
    static void PrepareHiddenBrowser(BrowserPage* page);

    // The PDF address, or empty text. Blanks the page, then loads the link
    // ("&amp;" read as "&") and waits until that load (redirects followed)
    // finished, the landing time limit passed or StopAnalysis was set; the
    // rules then run on whatever the page holds.
    QCoro::Task<QString> 获取PDF下载网址(QString fullTextLink);

    BrowserPage* browser() const;

private:
    QPointer<BrowserPage> browser_;
    SearchFlags& flags_;
};

// The delay of a refresh that sends the page elsewhere, when the page is such a
// redirect: a refresh meta element with an address, no more than the redirect
// delay limit, on a page without a readable frame. Nothing otherwise.
std::optional<std::chrono::milliseconds> RefreshRedirectDelay(const PageDocument& document);
