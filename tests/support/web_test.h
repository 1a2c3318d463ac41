#pragma once

#include "app/browser_page.h"
#include "app/run_javascript.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTest>

#include <qcoro/qcorotask.h>

// Evaluates script in the page's own script world and returns its result.
QVariant Evaluate(BrowserPage* page, const QString& script);

// Runs a coroutine to its end (tests only: this spins a nested event loop).
template <typename T> T Await(QCoro::Task<T>&& task) {
    return QCoro::waitFor(std::move(task));
}

// Loads address in page and waits until the page shows it, completely loaded.
// The engine's reports only wake the wait: one can name an earlier page when
// two loads ran into each other, so the document itself is asked (in a script
// world of its own, where the page cannot redefine what is read).
inline bool LoadAndWait(BrowserPage* page, const QString& address, int timeoutMs = 15000) {
    QSignalSpy done(page, &BrowserPage::DocumentComplete);
    page->Navigate(address);
    const QString wanted = QStringLiteral("complete ") + address.trimmed().toLower();
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (!done.isEmpty() && !page->isLoading() &&
            Await(RunJavaScript(page, QStringLiteral("document.readyState + ' ' + document.URL")))
                    .toString()
                    .toLower() == wanted)
            return true;
        done.wait(100);
    }
    return false;
}
