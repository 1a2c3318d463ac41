#pragma once

#include "app/browser_page.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTest>

#include <qcoro/qcorotask.h>

// Loads address in page and waits until its own top-level document completed
// (a late completion of an earlier load does not count).
inline bool LoadAndWait(BrowserPage* page, const QString& address, int timeoutMs = 15000) {
    QSignalSpy done(page, &BrowserPage::DocumentComplete);
    page->Navigate(address);
    const QString wanted = address.trimmed().toLower();
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        for (const QList<QVariant>& args : std::as_const(done)) {
            if (args.at(0).toUrl().toString().toLower() == wanted)
                return true;
        }
        done.wait(int(std::max<qint64>(1, deadline.remainingTime())));
    }
    return false;
}

// Runs a coroutine to its end (tests only: this spins a nested event loop).
template <typename T> T Await(QCoro::Task<T>&& task) {
    return QCoro::waitFor(std::move(task));
}

// Evaluates script in the page's own script world and returns its result.
QVariant Evaluate(BrowserPage* page, const QString& script);
