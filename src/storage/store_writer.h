#pragma once

#include <QMutex>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QWaitCondition>

#include <chrono>
#include <deque>
#include <functional>

class QThread;

// The one connection to a list store, on a thread of its own, so neither the disk
// nor a big command holds up the window. Writes run in the order posted, and
// whatever queued up meanwhile is committed as one transaction. A burst that fails
// (a full disk) is rolled back and tried again later together with everything
// behind it, so nothing queued is lost while the program runs. A write the store
// refuses for good (a broken constraint) is left out with a warning instead, so it
// cannot hold up every write after it.
class StoreWriter : public QObject {
    Q_OBJECT

public:
    // One write: false, with error set, when it failed. It runs inside a transaction
    // and may run again after a failure, so it changes nothing but the database.
    using Job = std::function<bool(QSqlDatabase& db, QSqlError& error)>;

    explicit StoreWriter(QObject* parent = nullptr);
    // Closes (see close()).
    ~StoreWriter() override;

    // The connection name the writer's database is to be opened under.
    QString connectionName() const { return connection_; }

    // Runs fn on the writer's thread once everything posted before is through, and
    // waits for it. The database handed over is the writer's own: fn may open it.
    void call(const std::function<void(QSqlDatabase& db)>& fn);
    // Queues a write and returns its serial number. Any thread.
    quint64 post(Job job);
    // Waits until write serial (0: everything posted so far) is committed; any thread.
    bool waitFor(quint64 serial, std::chrono::milliseconds timeout);
    bool flush(std::chrono::milliseconds timeout) { return waitFor(0, timeout); }
    // Why the last attempt failed; empty when the last commit went through.
    QString problem() const;
    // Makes a last attempt at what is queued and ends the thread; false when
    // something stayed unwritten.
    bool close();

signals:
    // A write failed (the reason), or writes go through again (empty text). Emitted
    // on the writer's thread: connect with the receiver's context.
    void problemChanged(const QString& text);
    // A write was refused for good and left out (the reason); on the writer's thread.
    void refused(const QString& text);

private:
    struct Entry {
        quint64 serial = 0; // writes only
        Job job;
        const std::function<void(QSqlDatabase&)>* call = nullptr;
        bool* called = nullptr;
    };

    void loop();
    bool commit(std::vector<Entry>& burst, QString& error);

    const QString connection_;
    QThread* thread_ = nullptr;
    mutable QMutex mutex_;
    QWaitCondition wake_;  // work queued, or closing
    QWaitCondition done_;  // a commit or a call finished
    QWaitCondition retry_; // closing cuts the wait before a retry short
    std::deque<Entry> queue_;
    QSqlDatabase db_; // the writer thread's only
    quint64 lastSerial_ = 0;
    quint64 committed_ = 0;
    QString problem_;
    bool closing_ = false;
    bool closed_ = false;
};
