#pragma once

#include <QObject>
#include <QPointer>

#include <qcoro/qcorotask.h>

#include <QDeadlineTimer>
#include <QUrl>

#include <chrono>
#include <optional>

#include "app/page_document.h"

class BrowserPage;
class LoadWatch;
class SearchFlags;

// Finds the PDF behind a record's full-text link: loads the link in the hidden
// browser, waits for the publisher's landing page and applies the link rules.
class PdfLinkResolver : public QObject {
    Q_OBJECT

public:
    PdfLinkResolver(BrowserPage* hiddenBrowser, SearchFlags& flags, QObject* parent = nullptr);

    // Makes page work as the hidden browser: no script dialogs, framed pages
    // kept as first loaded, no downloads, and only what the rules read is loaded.
    static void PrepareHiddenBrowser(BrowserPage* page);

    // The PDF address, or empty text. Blanks the page, then loads the link
    // ("&amp;" read as "&"; http and https only) and waits until that load
    // (redirects followed) finished, the landing time limit passed or
    // StopAnalysis was set; the rules then run on whatever the page holds. A
    // link that is itself a PDF gives its own address. A page that stops
    // answering (a script that never ends) is let go of, so it cannot hold up
    // the records after it.
    QCoro::Task<QString> 获取PDF下载网址(QString fullTextLink);

    // Lets the next links be local files as well (a file the user named on
    // the command line, never a link a page gave).
    void setLocalFilesAllowed(bool on) { localFilesAllowed_ = on; }

    BrowserPage* browser() const;

private:
    struct Landing {
        std::optional<PageDocument> document;
        bool loaded = false;     // the load asked for completed
        QDeadlineTimer deadline; // of the wait for it
    };
    // Blanks the page, loads address and waits for its landing page as above;
    // each of the two waits at most limit, and neither beyond cap.
    QCoro::Task<Landing> load(LoadWatch& watch, QString address, std::chrono::milliseconds limit,
                              QDeadlineTimer cap = QDeadlineTimer(QDeadlineTimer::Forever));
    QCoro::Task<Landing> awaitLanding(LoadWatch& watch, QDeadlineTimer deadline);
    // What the rules find on the landing page at address when style sheets load.
    QCoro::Task<QString> readWithStyleSheets(LoadWatch& watch, QString address,
                                             QDeadlineTimer deadline);

    QPointer<BrowserPage> browser_;
    SearchFlags& flags_;
    bool localFilesAllowed_ = false;
};

// The delay of a refresh that sends the page elsewhere, when the page is such a
// redirect: a refresh meta element with an address, no more than the redirect
// delay limit, on a page without a readable frame. Nothing otherwise.
std::optional<std::chrono::milliseconds> RefreshRedirectDelay(const PageDocument& document);
