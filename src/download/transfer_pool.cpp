#include "download/transfer_pool.h"

#include "download/download_session.h"
#include "download/transfer_core.h"
#include "tools/time_limits.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkProxyFactory>
#include <QThread>

#include <functional>

namespace {

// Whatever the desktop is set up to use (the downloads' "no proxy of our own").
class SystemProxyFactory : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override {
        return systemProxyForQuery(query);
    }
};

// A worker's copy of the session's cookies; cookies that downloads receive go
// back to the session, which hands them to every worker.
class MirrorCookieJar : public QNetworkCookieJar {
public:
    std::function<void(const QList<QNetworkCookie>&, const QUrl&)> received;

    bool setCookiesFromUrl(const QList<QNetworkCookie>& cookies, const QUrl& url) override {
        const bool set = QNetworkCookieJar::setCookiesFromUrl(cookies, url);
        if (set && received)
            received(cookies, url);
        return set;
    }
};

} // namespace

// The pool as its workers see it. Cleared when the pool goes, so a worker that
// outlives it (stuck in a slow disk call at closing) reports to nobody.
struct PoolLink {
    QMutex mutex;
    TransferPool* pool = nullptr;

    // Runs call on the pool's thread, unless the pool is gone by then.
    void post(std::function<void(TransferPool*)> call) {
        QMutexLocker lock(&mutex);
        if (!pool)
            return;
        // Held while posting: the pool cannot go meanwhile, and an event still
        // pending when it goes is dropped with it.
        TransferPool* target = pool;
        QMetaObject::invokeMethod(
            target, [target, call = std::move(call)] { call(target); }, Qt::QueuedConnection);
    }
};

// Lives in its own thread; everything below runs there.
class TransferWorker : public QObject {
public:
    TransferWorker(std::shared_ptr<PoolLink> link, TransferFunction transfer,
                   QList<QNetworkCookie> cookies)
        : link_(std::move(link))
        , transfer_(std::move(transfer))
        , initialCookies_(std::move(cookies)) {}

    // Called when the thread starts, before any job arrives.
    void setUp() {
        jar_ = new MirrorCookieJar;
        for (const QNetworkCookie& cookie : std::as_const(initialCookies_))
            jar_->insertCookie(cookie);
        initialCookies_.clear();
        jar_->received = [link = link_](const QList<QNetworkCookie>& cookies, const QUrl& url) {
            link->post([cookies, url](TransferPool* pool) { pool->cookiesReceived(cookies, url); });
        };
        system_ = new QNetworkAccessManager(this);
        system_->setProxyFactory(new SystemProxyFactory);
        proxied_ = new QNetworkAccessManager(this);
        for (QNetworkAccessManager* nam : {system_, proxied_}) {
            nam->setCookieJar(jar_);
            nam->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
        }
        jar_->setParent(this); // shared by both managers, owned here
    }

    void run(const std::shared_ptr<TransferTicket>& ticket) { execute(ticket); }

    void cancel(quint64 id) {
        if (TransferControl* control = controls_.value(id))
            control->cancel();
    }

    void setCookie(const QNetworkCookie& cookie, bool present) {
        if (present)
            jar_->insertCookie(cookie);
        else
            jar_->deleteCookie(cookie);
    }

    void finishWhenIdle() {
        quitWhenIdle_ = true;
        if (running_ == 0)
            thread()->quit();
    }

private:
    QCoro::Task<void> execute(std::shared_ptr<TransferTicket> ticket) {
        ++running_;
        TransferControl control;
        controls_.insert(ticket->id, &control);
        if (ticket->cancelRequested.load())
            control.cancel();
        QNetworkAccessManager* nam = system_;
        if (ticket->job.proxy) {
            proxied_->setProxy(*ticket->job.proxy);
            nam = proxied_;
        }
        TransferOutcome outcome = co_await transfer_(*nam, *ticket, control);
        controls_.remove(ticket->id);
        ticket->outcome = std::move(outcome);
        ticket->finished.store(true, std::memory_order_release);
        const quint64 id = ticket->id;
        link_->post([id](TransferPool* pool) { pool->done(id); });
        if (--running_ == 0 && quitWhenIdle_)
            thread()->quit();
    }

    std::shared_ptr<PoolLink> link_;
    TransferFunction transfer_;
    QList<QNetworkCookie> initialCookies_;
    MirrorCookieJar* jar_ = nullptr;
    QNetworkAccessManager* system_ = nullptr;
    QNetworkAccessManager* proxied_ = nullptr;
    QHash<quint64, TransferControl*> controls_;
    int running_ = 0;
    bool quitWhenIdle_ = false;
};

TransferPool::TransferPool(DownloadSession& session, QObject* parent, TransferFunction transfer)
    : QObject(parent)
    , session_(session)
    , transfer_(std::move(transfer))
    , link_(std::make_shared<PoolLink>()) {
    link_->pool = this;
    const auto mirror = [this](const QNetworkCookie& cookie, bool present) {
        for (const Worker& w : std::as_const(workers_)) {
            TransferWorker* worker = w.worker;
            QMetaObject::invokeMethod(
                worker, [worker, cookie, present] { worker->setCookie(cookie, present); },
                Qt::QueuedConnection);
        }
    };
    connect(session.cookieJar(), &SessionCookieJar::cookieInserted, this,
            [mirror](const QNetworkCookie& cookie) { mirror(cookie, true); });
    connect(session.cookieJar(), &SessionCookieJar::cookieDeleted, this,
            [mirror](const QNetworkCookie& cookie) { mirror(cookie, false); });
}

TransferPool::~TransferPool() {
    {
        QMutexLocker lock(&link_->mutex);
        link_->pool = nullptr; // from here on no worker reports here
    }
    cancelAll();
    for (const Worker& w : std::as_const(workers_)) {
        TransferWorker* worker = w.worker;
        QMetaObject::invokeMethod(
            worker, [worker] { worker->finishWhenIdle(); }, Qt::QueuedConnection);
        // A thread that does not end in time deletes itself once it does.
        connect(w.thread, &QThread::finished, w.thread, &QObject::deleteLater);
    }
    // Cancelled transfers only close and tidy their files; the wait is a safety
    // net, shared by all, so closing never hangs on a worker stuck in the disk.
    QDeadlineTimer deadline(TimeLimits::ShutdownWait.count());
    for (const Worker& w : std::as_const(workers_)) {
        if (w.thread->wait(deadline))
            delete w.thread;
    }
}

void TransferPool::cookiesReceived(const QList<QNetworkCookie>& cookies, const QUrl& url) {
    session_.cookieJar()->setCookiesFromUrl(cookies, url);
}

TransferPool::Worker& TransferPool::pickWorker() {
    Worker* least = nullptr;
    for (Worker& w : workers_) {
        if (!least || w.load < least->load)
            least = &w;
    }
    if (least && (least->load == 0 || workers_.size() >= MaxWorkers))
        return *least;
    Worker w;
    w.thread = new QThread;
    w.thread->setObjectName(QStringLiteral("transfer"));
    w.worker = new TransferWorker(link_, transfer_, session_.cookieJar()->cookies());
    w.worker->moveToThread(w.thread);
    TransferWorker* worker = w.worker;
    connect(w.thread, &QThread::started, worker, [worker] { worker->setUp(); });
    connect(w.thread, &QThread::finished, worker, &QObject::deleteLater);
    w.thread->start();
    workers_.append(w);
    return workers_.last();
}

std::shared_ptr<TransferTicket> TransferPool::start(TransferJob job) {
    auto ticket = std::make_shared<TransferTicket>();
    ticket->id = ++lastId_;
    ticket->job = std::move(job);
    Worker& w = pickWorker();
    ++w.load;
    workerOf_.insert(ticket->id, int(&w - workers_.data()));
    tickets_.insert(ticket->id, ticket);
    TransferWorker* worker = w.worker;
    QMetaObject::invokeMethod(
        worker, [worker, ticket] { worker->run(ticket); }, Qt::QueuedConnection);
    return ticket;
}

void TransferPool::cancel(const std::shared_ptr<TransferTicket>& ticket) {
    if (!ticket || !tickets_.contains(ticket->id))
        return;
    ticket->cancelRequested.store(true);
    TransferWorker* worker = workers_.at(workerOf_.value(ticket->id)).worker;
    const quint64 id = ticket->id;
    QMetaObject::invokeMethod(
        worker, [worker, id] { worker->cancel(id); }, Qt::QueuedConnection);
}

void TransferPool::cancelAll() {
    const auto tickets = tickets_.values();
    for (const auto& ticket : tickets)
        cancel(ticket);
}

void TransferPool::done(quint64 id) {
    const std::shared_ptr<TransferTicket> ticket = tickets_.take(id);
    const int index = workerOf_.take(id);
    if (!ticket)
        return;
    --workers_[index].load;
    emit finished(ticket);
}
