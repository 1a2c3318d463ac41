#include "app/run_javascript.h"

#include "tools/time_limits.h"

#include <QPointer>
#include <QWebEnginePage>

#include <qcoro/qcorosignal.h>

#include <memory>

namespace {

// Carries a script result from the engine's callback to the waiting coroutine.
class ScriptResult : public QObject {
    Q_OBJECT
signals:
    void done(const QVariant& value);
};

} // namespace

QCoro::Task<QVariant> RunJavaScript(QWebEnginePage* page, const QString& script, quint32 worldId) {
    if (!page)
        co_return QVariant();
    auto result = std::make_unique<ScriptResult>();
    QPointer<ScriptResult> receiver = result.get();
    QPointer<QWebEnginePage> livePage = page;
    QObject::connect(page, &QObject::destroyed, result.get(),
                     [receiver] { emit receiver->done(QVariant()); });
    page->runJavaScript(script, worldId, [receiver](const QVariant& value) {
        if (receiver)
            emit receiver->done(value);
    });
    const auto value = co_await qCoro(result.get(), &ScriptResult::done, TimeLimits::ScriptAnswer);
    co_return value.value_or(QVariant());
}

#include "run_javascript.moc"
