#pragma once

#include <QWebEngineUrlRequestInterceptor>

#include <atomic>

// Refuses what only matters to the eye (pictures, media, fonts, style sheets),
// so a page whose links are all that is wanted finishes sooner. Scripts, frames
// and the page itself still load.
class ResourceBlocker : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT

public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

    // Requests refused so far, and how many of them were style sheets.
    int refused() const { return refused_.load(); }
    int refusedStyleSheets() const { return refusedStyleSheets_.load(); }

    // Lets style sheets through (fonts, pictures and media stay refused): what a
    // style sheet hides is then not part of a link's text.
    void setStyleSheetsAllowed(bool on) { styleSheetsAllowed_ = on; }

    static bool Refuses(QWebEngineUrlRequestInfo::ResourceType type);

private:
    std::atomic<int> refused_{0};
    std::atomic<int> refusedStyleSheets_{0};
    std::atomic<bool> styleSheetsAllowed_{false};
};
