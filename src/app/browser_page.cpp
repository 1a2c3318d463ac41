#include "app/browser_page.h"

#include "app/resource_blocker.h"
#include "app/run_javascript.h"
#include "tools/time_limits.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTimer>
#include <QWebEngineDownloadRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

namespace {

const QString BlockerScriptName = QStringLiteral("quillmarsh-script-blockers");

// Elements read by one part of a snapshot taken in parts.
constexpr int SnapshotPartSize = 5000;

QString JsString(const QString& text) {
    // A JSON array of one string is valid JavaScript; strip the brackets.
    const QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

} // namespace

bool IsAboutBlank(const QUrl& url) {
    return url.toString().compare(QStringLiteral("about:blank"), Qt::CaseInsensitive) == 0;
}

bool IsWebAddress(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https");
}

BrowserPage::BrowserPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {
    connect(this, &QWebEnginePage::loadStarted, this, [this] { busy_ = true; });
    // The loading info names the load that ended; url() may already be the next one.
    connect(this, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
        if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus)
            return;
        busy_ = false;
        probeFrames();
        emit DocumentComplete(info.url());
        // A download, a "no content" answer or a cancelled load leave the page
        // as it was; an error page is a document of its own.
        if (info.status() != QWebEngineLoadingInfo::LoadSucceededStatus && !info.isErrorPage())
            emit LoadEndedWithoutDocument(info.url());
    });
    connect(profile, &QWebEngineProfile::downloadRequested, this,
            [this](QWebEngineDownloadRequest* download) {
                if (download->page() != this)
                    return;
                emit DownloadOffered(download->url(), download->mimeType());
                if (refuseDownloads_)
                    download->cancel();
            });
    connect(this, &QWebEnginePage::linkHovered, this, &BrowserPage::StatusTextChange);
    connect(this, &QWebEnginePage::titleChanged, this, &BrowserPage::TitleChange);
    // A pop-up opens no window: its address loads here instead. Leaving the
    // request unanswered makes the engine drop the new window. Loading it from
    // here passes the engine's own checks, so only web addresses are taken
    // (no file:, data: or script addresses chosen by the page).
    connect(this, &QWebEnginePage::newWindowRequested, this,
            [this](QWebEngineNewWindowRequest& request) {
                const QUrl target = request.requestedUrl();
                if (!IsWebAddress(target))
                    return;
                QTimer::singleShot(0, this, [this, target] {
                    setUrl(target);
                    emit NewWindow(target);
                });
            });
    // windowCloseRequested is deliberately left unconnected: scripts cannot close a pane.
}

QUrl BrowserPage::Navigate(const QString& address) {
    const QString trimmed = address.trimmed();
    const QUrl url = trimmed.compare(QStringLiteral("about:blank"), Qt::CaseInsensitive) == 0
                         ? QUrl(QStringLiteral("about:blank"))
                         : QUrl::fromUserInput(trimmed);
    if (!url.isValid())
        return {};
    busy_ = true;
    // The engine asks no permission for the blank page, so forget the frames here.
    if (IsAboutBlank(url))
        forgetFrames();
    setUrl(url);
    return url;
}

void BrowserPage::forgetFrames() {
    firstFrameReachable_ = false;
    ++frameGeneration_;
}

void BrowserPage::GoBack() {
    triggerAction(QWebEnginePage::Back);
}

void BrowserPage::GoForward() {
    triggerAction(QWebEnginePage::Forward);
}

void BrowserPage::Refresh() {
    triggerAction(QWebEnginePage::Reload);
}

void BrowserPage::setScriptBlockers(bool on) {
    QWebEngineScriptCollection& scripts = this->scripts();
    for (const QWebEngineScript& s : scripts.find(BlockerScriptName))
        scripts.remove(s);
    if (!on)
        return;
    QWebEngineScript blockers;
    blockers.setName(BlockerScriptName);
    blockers.setInjectionPoint(QWebEngineScript::DocumentCreation);
    blockers.setWorldId(QWebEngineScript::MainWorld);
    blockers.setRunsOnSubFrames(true);
    // Each on its own, so one failure does not keep the others from running.
    blockers.setSourceCode(QStringLiteral(
        "try{window.alert=null;}catch(e){}try{window.confirm=null;}catch(e){}"
        "try{window.showModalDialog=null;}catch(e){}try{window.open=null;}catch(e){}"));
    scripts.insert(blockers);
}

bool BrowserPage::acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) {
    bool cancel = false;
    if (keepFramedPages_ && firstFrameReachable_ && !IsAboutBlank(url))
        cancel = true;
    if (!cancel && filter_ && filter_(url, isMainFrame))
        cancel = true;
    if (cancel) {
        if (isMainFrame)
            busy_ = false;
        return false;
    }
    if (isMainFrame) {
        forgetFrames();
        emit MainFrameNavigation(url);
    }
    return true;
}

void BrowserPage::setStyleSheetsAllowed(bool on) {
    if (blocker_)
        blocker_->setStyleSheetsAllowed(on);
}

void BrowserPage::Revive() {
    unresponsive_ = false;
    busy_ = false;
    forgetFrames();
    // Discarding lets go of the renderer (the engine ends a process nobody uses
    // any more); the next navigation brings the page back with a new one.
    if (lifecycleState() != LifecycleState::Discarded) {
        if (lifecycleState() != LifecycleState::Active || !isVisible())
            setLifecycleState(LifecycleState::Discarded);
    }
}

void BrowserPage::setBlockHeavyResources(bool on) {
    if (on == (blocker_ != nullptr))
        return;
    if (on) {
        blocker_ = new ResourceBlocker(this);
        setUrlRequestInterceptor(blocker_);
    } else {
        setUrlRequestInterceptor(nullptr);
        delete blocker_;
        blocker_ = nullptr;
    }
}

void BrowserPage::probeFrames() {
    QPointer<BrowserPage> self = this;
    const quint64 generation = frameGeneration_;
    runJavaScript(QStringLiteral("(function(){try{return window.frames.length>0&&"
                                 "!!window.frames[0].document;}catch(e){return false;}})()"),
                  QWebEngineScript::ApplicationWorld, [self, generation](const QVariant& v) {
                      // A page that was left meanwhile says nothing about the current one.
                      if (self && self->frameGeneration_ == generation)
                          self->firstFrameReachable_ = v.toBool();
                  });
}

void BrowserPage::javaScriptAlert(const QUrl& securityOrigin, const QString& msg) {
    if (silent_) {
        emit ScriptDialogSuppressed(QStringLiteral("alert"), msg);
        return;
    }
    QWebEnginePage::javaScriptAlert(securityOrigin, msg);
}

bool BrowserPage::javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) {
    if (silent_) {
        emit ScriptDialogSuppressed(QStringLiteral("confirm"), msg);
        return false;
    }
    return QWebEnginePage::javaScriptConfirm(securityOrigin, msg);
}

bool BrowserPage::javaScriptPrompt(const QUrl& securityOrigin, const QString& msg,
                                   const QString& defaultValue, QString* result) {
    if (silent_) {
        emit ScriptDialogSuppressed(QStringLiteral("prompt"), msg);
        return false;
    }
    return QWebEnginePage::javaScriptPrompt(securityOrigin, msg, defaultValue, result);
}

void BrowserPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                           const QString&) {
    // Page script errors are the site's business, not the user's.
}

QCoro::Task<ScriptReply> BrowserPage::Ask(const QString& script,
                                          std::optional<std::chrono::milliseconds> limit) {
    QPointer<BrowserPage> self = this;
    const ScriptReply reply =
        co_await AskPage(this, script, QWebEngineScript::ApplicationWorld,
                         limit.value_or(TimeLimits::ScriptAnswerLimit()), &cutter_);
    if (self && reply.end == ScriptReply::End::TimedOut)
        self->unresponsive_ = true;
    co_return reply;
}

QCoro::Task<std::optional<PageDocument>>
BrowserPage::Document(QStringList heavyTags, QStringList onlyTags,
                      std::optional<std::chrono::milliseconds> limit) {
    QPointer<BrowserPage> self = this;
    if (onlyTags.isEmpty()) {
        const ScriptReply reply = co_await Ask(PageSnapshotScript(heavyTags), limit);
        if (reply.value.typeId() != QMetaType::QString)
            co_return std::nullopt;
        co_return PageDocument::fromJson(reply.value.toString().toUtf8());
    }
    // Read in parts, each answered well within the answer limit: a page with a
    // huge number of links is slow to read, not hung. limit bounds the whole.
    const QDeadlineTimer budget = limit ? QDeadlineTimer(*limit) : QDeadlineTimer();
    const auto partLimit = [&] {
        return limit ? std::chrono::duration_cast<std::chrono::milliseconds>(
                           budget.remainingTimeAsDuration())
                     : TimeLimits::ScriptAnswerLimit();
    };
    // The layout a big page needs before its text can be read, on its own.
    ScriptReply reply = co_await Ask(
        QStringLiteral("void (document.body && document.body.offsetHeight); true"), partLimit());
    if (!self || reply.end != ScriptReply::End::Answered)
        co_return std::nullopt;
    PageDocument document;
    for (int start = 0;; start += SnapshotPartSize) {
        reply = co_await Ask(PageSnapshotScript(heavyTags, onlyTags, start, SnapshotPartSize),
                             partLimit());
        if (!self || reply.value.typeId() != QMetaType::QString)
            co_return std::nullopt;
        const std::optional<int> total = document.appendJson(reply.value.toString().toUtf8());
        if (!total)
            co_return std::nullopt;
        if (start + SnapshotPartSize >= *total || document.size() >= SnapshotElementLimit)
            break;
    }
    co_return document;
}

QCoro::Task<bool> BrowserPage::runOnElement(const PageElement& element, const QString& action) {
    const QString script =
        QStringLiteral("(function(){var el=document.getElementsByTagName(%1)[%2];"
                       "if(!el)return false;%3;return true;})()")
            .arg(JsString(element.tagName))
            .arg(element.tagIndex)
            .arg(action);
    const ScriptReply done = co_await Ask(script);
    co_return done.value.toBool();
}

QCoro::Task<bool> BrowserPage::Click(const PageElement& element) {
    return runOnElement(element, QStringLiteral("el.click()"));
}

QCoro::Task<bool> BrowserPage::SetValue(const PageElement& element, const QString& value) {
    return runOnElement(element, QStringLiteral("el.value=%1").arg(JsString(value)));
}

QCoro::Task<int> BrowserPage::SetValues(QList<std::pair<PageElement, QString>> values) {
    QJsonArray list;
    for (const auto& [element, value] : values)
        list.append(QJsonArray{element.tagName, element.tagIndex, value, element.name});
    // An element is written only while it still has the name it was chosen by: a
    // script that inserted fields since the snapshot must not move a password into
    // another box.
    const QString script =
        QStringLiteral("(function(list){var n=0;list.forEach(function(x){"
                       "var el=document.getElementsByTagName(x[0])[x[1]];"
                       "if(el&&(typeof "
                       "el.name==='string'?el.name:(el.getAttribute('name')||''))===x[3]){el.value="
                       "x[2];++n;}});"
                       "return n;})(%1)")
            .arg(QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact)));
    const QVariant found = co_await RunJavaScript(this, script);
    co_return found.toInt();
}
