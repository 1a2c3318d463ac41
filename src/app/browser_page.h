#pragma once

#include "app/page_document.h"
#include "app/run_javascript.h"

#include <QUrl>
#include <QWebEnginePage>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
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
    bool firstFrameReachable() const { return firstFrameReachable_; }

    // Refuses pictures, media, fonts and style sheets for this page alone.
    void setBlockHeavyResources(bool on);
    // The blocker while it is on, else nullptr.
    ResourceBlocker* resourceBlocker() const { return blocker_; }

    // Called before every navigation (main frame and frames); true cancels it.
    using NavigationFilter = std::function<bool(const QUrl& url, bool isMainFrame)>;
    void setNavigationFilter(NavigationFilter filter) { filter_ = std::move(filter); }

    // A snapshot of the current document, read in a script world of its own so
    // the page cannot forge it; nothing when it cannot be read. With onlyTags,
    // only elements of those tags are taken (as a flat list), which keeps the
    // snapshot of a huge page small. limit: the script answer limit by default.
    QCoro::Task<std::optional<PageDocument>>
    Document(QStringList heavyTags = DefaultHeavyTags(), QStringList onlyTags = {},
             std::optional<std::chrono::milliseconds> limit = std::nullopt);
    // Runs script in a world of its own. A page that does not answer within limit
    // (the script answer limit by default) is marked unresponsive.
    QCoro::Task<ScriptReply> Ask(const QString& script,
                                 std::optional<std::chrono::milliseconds> limit = std::nullopt);

    // Ends every query of this page that waits for an answer now (a stop request).
    void CutScriptWaits() { emit cutter_.cut(); }
    // A query got no answer in time: a script of the page keeps its renderer busy,
    // and every later page of the same site would share that renderer.
    bool Unresponsive() const { return unresponsive_; }
    // Lets go of the hung renderer: the page is emptied and the next navigation
    // starts afresh. Profile, settings, scripts and wiring stay.
    void Revive();

    // Downloads a load of this page turns into are refused (the hidden browser).
    void setRefuseDownloads(bool on) { refuseDownloads_ = on; }
    // Style sheets are let through even while heavy resources are refused.
    void setStyleSheetsAllowed(bool on);
    // Writes back to the live page, addressing the element by tag and index.
    QCoro::Task<bool> Click(const PageElement& element);
    QCoro::Task<bool> SetValue(const PageElement& element, const QString& value);
    // Many values in one script, however many there are; how many elements were found.
    QCoro::Task<int> SetValues(QList<std::pair<PageElement, QString>> values);

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
    // A load of this page turned into a download of url (of that MIME type)
    // instead of a document.
    void DownloadOffered(const QUrl& url, const QString& mimeType);
    // The top-level load of url ended without a new document: it failed or was
    // stopped before anything was shown (no error page either).
    void LoadEndedWithoutDocument(const QUrl& url);

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
    bool unresponsive_ = false;
    bool refuseDownloads_ = false;
    ScriptCutter cutter_;
    bool keepFramedPages_ = false;
    bool firstFrameReachable_ = false;
    quint64 frameGeneration_ = 0;
    NavigationFilter filter_;
    ResourceBlocker* blocker_ = nullptr;
};

// Case-insensitive test for the blank page address.
bool IsAboutBlank(const QUrl& url);

// An address a pop-up may load: http or https only.
bool IsWebAddress(const QUrl& url);
