#pragma once

#include "download/transfer_core.h"
#include "download/transfer_types.h"

#include <QHash>
#include <QList>
#include <QNetworkCookie>
#include <QObject>

#include <functional>
#include <memory>

class DownloadSession;
class QThread;
class TransferWorker;
struct PoolLink;

// What a worker runs for each ticket (the transfer core; tests stage others).
using TransferFunction = std::function<QCoro::Task<TransferOutcome>(
    QNetworkAccessManager&, TransferTicket&, TransferControl&)>;

// Runs transfers on worker threads, each thread with its own network managers and
// a mirror of the session's cookies, so neither the network nor the disk ever
// holds up the window. Progress is read from the tickets; the end of each
// transfer is reported on the window's thread.
class TransferPool : public QObject {
    Q_OBJECT

public:
    // Most worker threads; more transfers share them.
    static constexpr int MaxWorkers = 6;

    explicit TransferPool(DownloadSession& session, QObject* parent = nullptr,
                          TransferFunction transfer = RunTransfer);
    // Stops every transfer and waits (briefly) until each has put its files in
    // order; a worker stuck longer (a hung disk) is left to finish on its own.
    ~TransferPool() override;

    std::shared_ptr<TransferTicket> start(TransferJob job);
    // Asks a transfer to stop; it still reports finished, with Cancelled or the
    // outcome it reached first.
    void cancel(const std::shared_ptr<TransferTicket>& ticket);
    void cancelAll();
    // Transfers started and not yet reported finished.
    int running() const { return int(tickets_.size()); }

signals:
    void finished(std::shared_ptr<TransferTicket> ticket);

private:
    friend class TransferWorker;
    struct Worker {
        QThread* thread = nullptr;
        TransferWorker* worker = nullptr;
        int load = 0;
    };
    Worker& pickWorker();
    void done(quint64 id);
    void cookiesReceived(const QList<QNetworkCookie>& cookies, const QUrl& url);

    DownloadSession& session_;
    TransferFunction transfer_;
    std::shared_ptr<PoolLink> link_;
    QList<Worker> workers_;
    QHash<quint64, std::shared_ptr<TransferTicket>> tickets_;
    QHash<quint64, int> workerOf_;
    quint64 lastId_ = 0;
};
