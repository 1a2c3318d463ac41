#pragma once

#include <QVariant>
#include <QWebEngineScript>

#include <qcoro/qcorotask.h>

class QWebEnginePage;
class QString;

// Runs script in page and resumes with its result; an invalid QVariant when the
// page went away or did not answer in time. By default the script runs in a world
// of its own, where the page's scripts cannot redefine what it reads.
QCoro::Task<QVariant> RunJavaScript(QWebEnginePage* page, const QString& script,
                                    quint32 worldId = QWebEngineScript::ApplicationWorld);
