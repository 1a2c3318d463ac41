#include "storage/store_writer.h"

#include "tools/time_limits.h"

#include <QAtomicInteger>
#include <QDeadlineTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <vector>

namespace {
QAtomicInteger<quint64> connections;
}

StoreWriter::StoreWriter(QObject* parent)
    : QObject(parent)
    , connection_(QStringLiteral("quillmarsh-lists-%1").arg(connections.fetchAndAddRelaxed(1))) {
    thread_ = QThread::create([this] { loop(); });
    thread_->setObjectName(QStringLiteral("list store"));
    thread_->start();
}

StoreWriter::~StoreWriter() {
    close();
    delete thread_;
}

void StoreWriter::call(const std::function<void(QSqlDatabase&)>& fn) {
    Q_ASSERT(QThread::currentThread() != thread_);
    bool called = false;
    QMutexLocker lock(&mutex_);
    if (closed_)
        return;
    Entry entry;
    entry.call = &fn;
    entry.called = &called;
    queue_.push_back(std::move(entry));
    wake_.wakeAll();
    while (!called)
        done_.wait(&mutex_);
}

quint64 StoreWriter::post(Job job) {
    QMutexLocker lock(&mutex_);
    Entry entry;
    entry.serial = ++lastSerial_;
    entry.job = std::move(job);
    queue_.push_back(std::move(entry));
    wake_.wakeAll();
    return lastSerial_;
}

bool StoreWriter::waitFor(quint64 serial, std::chrono::milliseconds timeout) {
    QMutexLocker lock(&mutex_);
    if (serial == 0)
        serial = lastSerial_;
    const QDeadlineTimer deadline(timeout);
    while (committed_ < serial && !closed_) {
        if (!done_.wait(&mutex_, deadline))
            break;
    }
    return committed_ >= serial;
}

QString StoreWriter::problem() const {
    QMutexLocker lock(&mutex_);
    return problem_;
}

bool StoreWriter::close() {
    {
        QMutexLocker lock(&mutex_);
        closing_ = true;
        wake_.wakeAll();
        retry_.wakeAll();
    }
    thread_->wait();
    QMutexLocker lock(&mutex_);
    return committed_ >= lastSerial_;
}

namespace {

// Failures that trying again cannot mend: the write itself is at fault.
bool IsPermanent(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    constexpr int Error = 1, TooBig = 18, Constraint = 19, Mismatch = 20, Misuse = 21, Range = 25;
    return ok && (code == Error || code == TooBig || code == Constraint || code == Mismatch ||
                  code == Misuse || code == Range);
}

bool Exec(QSqlDatabase& db, const QString& sql, QSqlError& error) {
    QSqlQuery query(db);
    if (query.exec(sql))
        return true;
    error = query.lastError();
    return false;
}

} // namespace

bool StoreWriter::commit(std::vector<Entry>& burst, QString& error) {
    QSqlError failure;
    if (!db_.isOpen()) {
        error = QStringLiteral("列表文件没有打开");
        return false;
    }
    if (!db_.transaction()) {
        error = db_.lastError().text();
        return false;
    }
    // Each write in a savepoint of its own, so one refused for good can be undone alone.
    for (Entry& e : burst) {
        if (!e.job)
            continue; // left out on an earlier attempt
        if (!Exec(db_, QStringLiteral("SAVEPOINT job"), failure))
            break;
        if (e.job(db_, failure)) {
            if (!Exec(db_, QStringLiteral("RELEASE job"), failure))
                break;
            continue;
        }
        if (!IsPermanent(failure))
            break;
        qWarning("quillmarsh: a change to the lists was refused and left out: %s",
                 qPrintable(failure.text()));
        emit refused(failure.text());
        e.job = nullptr; // not tried again
        QSqlError undo;
        if (!Exec(db_, QStringLiteral("ROLLBACK TO job"), undo) ||
            !Exec(db_, QStringLiteral("RELEASE job"), undo)) {
            failure = undo;
            break;
        }
        failure = QSqlError();
    }
    if (failure.type() == QSqlError::NoError && db_.commit())
        return true;
    error = failure.type() != QSqlError::NoError ? failure.text() : db_.lastError().text();
    db_.rollback();
    return false;
}

void StoreWriter::loop() {
    QMutexLocker lock(&mutex_);
    for (;;) {
        while (queue_.empty() && !closing_)
            wake_.wait(&mutex_);
        if (queue_.empty())
            break;
        if (queue_.front().call) {
            Entry entry = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            (*entry.call)(db_);
            lock.relock();
            *entry.called = true;
            done_.wakeAll();
            continue;
        }
        // One burst: every write queued up to the next call.
        std::vector<Entry> burst;
        while (!queue_.empty() && !queue_.front().call) {
            burst.push_back(std::move(queue_.front()));
            queue_.pop_front();
        }
        lock.unlock();
        QString error;
        const bool ok = commit(burst, error);
        lock.relock();
        if (ok) {
            committed_ = burst.back().serial;
            done_.wakeAll();
            if (!problem_.isEmpty()) {
                problem_.clear();
                emit problemChanged(QString());
            }
            continue;
        }
        // Everything stays queued, in order, for the next attempt.
        for (auto it = burst.rbegin(); it != burst.rend(); ++it)
            queue_.push_front(std::move(*it));
        if (problem_ != error) {
            problem_ = error;
            emit problemChanged(error);
        }
        if (closing_)
            break; // the last attempt failed: what is queued stays unwritten
        retry_.wait(&mutex_, TimeLimits::Scaled(TimeLimits::StoreRetry).count());
    }
    closed_ = true;
    done_.wakeAll();
    lock.unlock();
    const QString name = db_.connectionName();
    db_.close();
    db_ = QSqlDatabase();
    if (!name.isEmpty())
        QSqlDatabase::removeDatabase(name);
}
