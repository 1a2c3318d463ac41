#pragma once

#include "app/page_document.h"

#include <QUrl>
#include <QWebEnginePage>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

class ResourceBlocker;

// A browser page with the members and events the windows rely on. Pop-ups
// load into this same page; page scripts cannot close it.
class BrowserPage : public QWebEnginePage {
    Q_OBJECT

public:
    explicit BrowserPage(QWebEngineProfile* profile, QObject* parent = nullptr);

    // Starts loading and returns at once with the address being loaded (empty
    // when the text is no address); DocumentComplete follows.
    QUrl Navigate(const QString& address);
    // A top-level load is in progress.
    bool Busy() const { return busy_; }

    // Silent: alert, confirm and prompt show nothing (confirm and prompt answer "cancel").
    void setSilent(bool silent) { silent_ = silent; }
    bool Silent() const { return silent_; }

    void GoBack();
    void GoForward();
    void Refresh();

    // Replaces alert, confirm, showModalDialog and open with null in every
    // document as it is created, before the page's own scripts run.
    void setScriptBlockers(bool on);

    // Keeps a page with a readable first frame as first loaded: every later
    // navigation except to about:blank is cancelled.
    void setKeepFramedPages(bool on) { keepFramedPages_ = on; }
    // The loaded page has a first frame whose document is readable (probed after each load).
    bool firstFrameReachable() const { return frames_->reachable; }

    // Refuses pictures, media, fonts and style sheets for this page alone.
    void setBlockHeavyResources(bool on);
    // The blocker while it is on, else nullptr.
    ResourceBlocker* resourceBlocker() const { return blocker_; }

    // Called before every navigation (main frame and frames); true cancels it.
    using NavigationFilter = std::function<bool(const QUrl& url, bool isMainFrame)>;
    void setNavigationFilter(NavigationFilter filter) { filter_ = std::move(filter); }

    // A snapshot of the current document, read in a script world of its own so
    // the page cannot forge it; nothing when it cannot be read.
    QCoro::Task<std::optional<PageDocument>> Document(QStringList heavyTags = DefaultHeavyTags());
    // Writes back to the live page, addressing the element by tag and index.
    QCoro::Task<bool> Click(const PageElement& element);
    QCoro::Task<bool> SetValue(const PageElement& element, const QString& value);

signals:
    void StatusTextChange(const QString& text);
    void TitleChange(const QString& text);
    // The top-level load of url finished (successfully or not). url is the
    // address that load ended at, not the page's current one.
    void DocumentComplete(const QUrl& url);
    // A top-level navigation to url was let through (typed, link, redirect, refresh ...).
    void MainFrameNavigation(const QUrl& url);
    // A pop-up was loaded into this page instead of a new window.
    void NewWindow(const QUrl& url);
    // A script dialog was swallowed in silent mode or by the blockers.
    void ScriptDialogSuppressed(const QString& kind, const QString& text);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg,
                          const QString& defaultValue, QString* result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceID) override;

private:
    void probeFrames();
    void forgetFrames();
    QCoro::Task<bool> runOnElement(const PageElement& element, const QString& action);

    bool busy_ = false;
    bool silent_ = false;
    bool keepFramedPages_ = false;
    // Shared with the probe's callback, which the engine may still call while the
    // page is being destroyed, when this object is no longer a BrowserPage.
    struct FrameState {
        bool reachable = false;
        quint64 generation = 0;
    };
    std::shared_ptr<FrameState> frames_ = std::make_shared<FrameState>();
    NavigationFilter filter_;
    ResourceBlocker* blocker_ = nullptr;
};

// Case-insensitive test for the blank page address.
bool IsAboutBlank(const QUrl& url);

// An address a pop-up may load: http or https only.
bool IsWebAddress(const QUrl& url);
