#pragma once

#include <QObject>
#include <QVariant>
#include <QWebEngineScript>

#include <qcoro/qcorotask.h>

#include <chrono>

class QWebEnginePage;
class QString;

// Ends the waits of script queries at once (a stop request).
class ScriptCutter : public QObject {
    Q_OBJECT
signals:
    void cut();
};

// How a script query ended.
struct ScriptReply {
    enum class End { Answered, TimedOut, Cut, PageGone };
    QVariant value; // the result when answered
    End end = End::PageGone;
};

// Runs script in page and resumes when the page answered, went away, did not
// answer within limit, or cutter (when given) was cut.
QCoro::Task<ScriptReply> AskPage(QWebEnginePage* page, const QString& script, quint32 worldId,
                                 std::chrono::milliseconds limit,
                                 const ScriptCutter* cutter = nullptr);

// Runs script in page and resumes with its result; an invalid QVariant when the
// page went away or did not answer in time. By default the script runs in a world
// of its own, where the page's scripts cannot redefine what it reads.
QCoro::Task<QVariant> RunJavaScript(QWebEnginePage* page, const QString& script,
                                    quint32 worldId = QWebEngineScript::ApplicationWorld);
