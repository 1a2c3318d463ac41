#pragma once

#include "download/transfer_types.h"

#include <QNetworkReply>
#include <QObject>

#include <qcoro/qcorotask.h>

class QNetworkAccessManager;

// Stops a running transfer; lives in the transfer's thread.
class TransferControl : public QObject {
    Q_OBJECT

public:
    void cancel() {
        if (cancelled_)
            return;
        cancelled_ = true;
        emit cancelled();
    }
    bool isCancelled() const { return cancelled_; }

signals:
    void cancelled();

private:
    bool cancelled_ = false;
};

// Moves one address into one file. The body streams from the socket into the
// job's part file through one reused buffer and replaces the target only once it
// is complete (its length matched, or a chunked or encoded body reached its end),
// so a file already there is never touched by a download that fails. A part file
// kept from an earlier attempt is continued with Range/If-Range when the server
// confirms the same version (206); a full answer (200) starts it over. Progress
// goes into the ticket's counters. Runs in the thread of nam.
QCoro::Task<TransferOutcome> RunTransfer(QNetworkAccessManager& nam, TransferTicket& ticket,
                                         TransferControl& control);

// An address a download may fetch: http or https with a host.
bool IsDownloadAddress(const QUrl& url);

// A short user-facing text for a network failure.
QString NetworkErrorText(QNetworkReply::NetworkError error);
// Seconds from a Retry-After value (seconds or an HTTP date), -1 when unusable.
int ParseRetryAfter(const QByteArray& value, const QDateTime& now);
