#pragma once

#include <QFuture>
#include <QObject>
#include <QPromise>
#include <QThread>

#include <qcoro/qcorofuture.h>
#include <qcoro/qcorotask.h>

#include <memory>
#include <type_traits>
#include <utility>

// Runs work on a thread of its own and resumes the caller with its result, so
// file work never freezes a window. The thread deletes itself once done and
// nobody ever waits for it: whoever started it may be gone by then, so work
// must own everything it touches (copies, shared pointers), and a long work
// should look at a shared cancel flag now and then.
template <typename Work> QCoro::Task<std::invoke_result_t<Work>> RunOnWorker(Work work) {
    using Result = std::invoke_result_t<Work>;
    auto promise = std::make_shared<QPromise<Result>>();
    QFuture<Result> future = promise->future();
    promise->start();
    QThread* thread = QThread::create([promise, work = std::move(work)]() mutable {
        if constexpr (std::is_void_v<Result>) {
            work();
        } else {
            promise->addResult(work());
        }
        promise->finish();
    });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
    co_return co_await future;
}
