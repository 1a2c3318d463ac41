#pragma once

#include <QVariant>

#include <qcoro/qcorotask.h>

class QWebEnginePage;
class QString;

// Runs script in page's main world and resumes with its result; an invalid
// QVariant when the page went away or did not answer in time.
QCoro::Task<QVariant> RunJavaScript(QWebEnginePage* page, const QString& script);
