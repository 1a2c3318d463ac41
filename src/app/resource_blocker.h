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

    // Requests refused so far.
    int refused() const { return refused_.load(); }

    static bool Refuses(QWebEngineUrlRequestInfo::ResourceType type);

private:
    std::atomic<int> refused_{0};
};
