#include "app/browser_page.h"

#include "app/resource_blocker.h"
#include "app/run_javascript.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

namespace {

const QString BlockerScriptName = QStringLiteral("quillmarsh-script-blockers");

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
    frames_->reachable = false;
    ++frames_->generation;
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
    if (keepFramedPages_ && frames_->reachable && !IsAboutBlank(url))
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
    const std::weak_ptr<FrameState> state = frames_;
    const quint64 generation = frames_->generation;
    runJavaScript(QStringLiteral("(function(){try{return window.frames.length>0&&"
                                 "!!window.frames[0].document;}catch(e){return false;}})()"),
                  QWebEngineScript::ApplicationWorld, [state, generation](const QVariant& v) {
                      // A page that was left meanwhile says nothing about the current one.
                      const auto frames = state.lock();
                      if (frames && frames->generation == generation)
                          frames->reachable = v.toBool();
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

QCoro::Task<std::optional<PageDocument>> BrowserPage::Document(QStringList heavyTags) {
    const QVariant json = co_await RunJavaScript(this, PageSnapshotScript(heavyTags));
    if (json.typeId() != QMetaType::QString)
        co_return std::nullopt;
    co_return PageDocument::fromJson(json.toString().toUtf8());
}

QCoro::Task<bool> BrowserPage::runOnElement(const PageElement& element, const QString& action) {
    const QString script =
        QStringLiteral("(function(){var el=document.getElementsByTagName(%1)[%2];"
                       "if(!el)return false;%3;return true;})()")
            .arg(JsString(element.tagName))
            .arg(element.tagIndex)
            .arg(action);
    const QVariant done = co_await RunJavaScript(this, script);
    co_return done.toBool();
}

QCoro::Task<bool> BrowserPage::Click(const PageElement& element) {
    return runOnElement(element, QStringLiteral("el.click()"));
}

QCoro::Task<bool> BrowserPage::SetValue(const PageElement& element, const QString& value) {
    return runOnElement(element, QStringLiteral("el.value=%1").arg(JsString(value)));
}
