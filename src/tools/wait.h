#pragma once

#include <QObject>
#include <QTimer>

#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotask.h>

#include <chrono>

namespace WaitDetail {
// Lives in the waiting coroutine's frame, so the wait always ends.
class Waker : public QObject {
    Q_OBJECT
public:
    void wake() { emit woke(); }
signals:
    void woke();
};
} // namespace WaitDetail

// Resumes when source emits any of signals, when source is destroyed, or after
// timeout, whichever comes first. Whoever waits re-checks its own conditions afterwards.
template <typename Source, typename... Signals>
QCoro::Task<void> WaitForSignals(Source* source, std::chrono::milliseconds timeout,
                                 Signals... signalList) {
    WaitDetail::Waker waker;
    if (source) {
        (QObject::connect(source, signalList, &waker, &WaitDetail::Waker::wake), ...);
        QObject::connect(source, &QObject::destroyed, &waker, &WaitDetail::Waker::wake);
    }
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &waker, &WaitDetail::Waker::wake);
    timer.start(std::max(timeout, std::chrono::milliseconds(0)));
    co_await qCoro(&waker, &WaitDetail::Waker::woke);
}

template <typename Source, typename Signal>
QCoro::Task<void> WaitForSignal(Source* source, Signal signal, std::chrono::milliseconds timeout) {
    return WaitForSignals(source, timeout, signal);
}
