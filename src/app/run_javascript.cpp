#include "app/run_javascript.h"

#include "tools/time_limits.h"

#include <QPointer>
#include <QWebEnginePage>

#include <qcoro/qcorosignal.h>

#include <memory>
#include <optional>

namespace {

// Carries how a query ended from whoever ended it to the waiting coroutine.
class ScriptResult : public QObject {
    Q_OBJECT
signals:
    void done(const ScriptReply& reply);
};

} // namespace

QCoro::Task<ScriptReply> AskPage(QWebEnginePage* page, const QString& script, quint32 worldId,
                                 std::chrono::milliseconds limit, const ScriptCutter* cutter) {
    if (!page)
        co_return ScriptReply{};
    auto result = std::make_unique<ScriptResult>();
    QPointer<ScriptResult> receiver = result.get();
    // The first end counts; it may come before the wait begins (the engine
    // answers at once for a page that cannot run scripts).
    auto ended = std::make_shared<std::optional<ScriptReply>>();
    const auto end = [receiver, ended](ScriptReply::End how, const QVariant& value = {}) {
        if (*ended)
            return;
        *ended = ScriptReply{value, how};
        if (receiver)
            emit receiver->done(**ended);
    };
    QObject::connect(page, &QObject::destroyed, result.get(),
                     [end] { end(ScriptReply::End::PageGone); });
    if (cutter)
        QObject::connect(cutter, &ScriptCutter::cut, result.get(),
                         [end] { end(ScriptReply::End::Cut); });
    page->runJavaScript(script, worldId,
                        [end](const QVariant& value) { end(ScriptReply::End::Answered, value); });
    if (!*ended)
        co_await qCoro(result.get(), &ScriptResult::done, limit);
    co_return ended->value_or(ScriptReply{QVariant(), ScriptReply::End::TimedOut});
}

QCoro::Task<QVariant> RunJavaScript(QWebEnginePage* page, const QString& script, quint32 worldId) {
    const ScriptReply reply =
        co_await AskPage(page, script, worldId, TimeLimits::ScriptAnswerLimit());
    co_return reply.value;
}

#include "run_javascript.moc"
