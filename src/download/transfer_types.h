#pragma once

#include <QNetworkProxy>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class NameReservations;

// The one buffer a transfer reads its body into, and the body bytes the network
// may hold for it meanwhile when several run side by side (so six stay far below
// 100 MB together).
inline constexpr qint64 TransferReadBuffer = 256 * 1024;
// What the network may hold for a transfer that runs alone: one stream needs the
// larger buffer to keep up with the socket.
inline constexpr qint64 SingleTransferReadBuffer = 4 * 1024 * 1024;

// How a transfer ended.
enum class TransferResult {
    Saved,         // the target now holds the complete body
    TooBig,        // larger than the size limit; nothing saved
    Exists,        // a file of the server's type is already there and the policy is skip
    NameBusy,      // another running task writes that name; try again later
    CannotReplace, // something in the target's place cannot be replaced
    HttpError,     // the server answered with an error status
    NoResponse,    // no response: refused, unreachable, TLS failure, redirect loop, time-out
    Incomplete,    // the body ended before it was complete
    Stalled,       // no new bytes for the stall limit
    Cancelled,     // stopped
    WriteFailed,   // the part file could not be created or written
    Empty,         // a response without a single body byte
    TruncatedPdf,  // a PDF without its end, or shorter than announced; the part stays
};

// A file of bytes is too big for a limit of maxMB megabytes, compared in megabytes
// so that no rounding shifts the limit. A limit that is not above 0 is none.
inline bool ExceedsSizeLimit(qint64 bytes, double maxMB) {
    return maxMB > 0 && double(bytes) / 1024.0 / 1024.0 > maxMB;
}

// Where the body goes and how the same-name policy applies to it.
struct SaveNaming {
    QString folder; // ends with "/"
    QString name;
    QString type;
    QString policy; // "跳过", "覆盖" or "重命名"
    // The type comes from the response's Content-Type, so the name is settled only
    // once the headers are in (the one-at-a-time method).
    bool typeFromResponse = false;
};

// One download: an address in, one file out.
struct TransferJob {
    qint64 owner = 0; // the task's id: whose name reservations these are
    QUrl url;
    QString target;   // the file to replace; settled after the headers with typeFromResponse
    QString partPath; // where the body goes meanwhile; kept for a resume when that is safe
    SaveNaming naming;
    QByteArray referer; // empty: none
    QByteArray userAgent;
    std::optional<QNetworkProxy> proxy; // the program's proxy; none: the system's settings
    double maxFileSizeMB = 0;           // largest file, in MB; 0: no limit
    qint64 networkBuffer = TransferReadBuffer;
    std::shared_ptr<NameReservations> reservations;
    // Told (on the transfer's thread) the file about to be put in place, just before
    // that happens, and empty text when it then did not; returns once that is on
    // record, so a crash in between is told apart later, or false when it could not
    // be recorded: then nothing is put in place. Empty: nobody to tell.
    std::function<bool(const QString& path)> beforeCommit;
};

// What came of a transfer.
struct TransferOutcome {
    TransferResult result = TransferResult::NoResponse;
    int httpStatus = 0;   // 0: no response
    int networkError = 0; // QNetworkReply::NetworkError
    qint64 bytes = 0;     // bytes of the file, resumed ones included
    qint64 total = -1;    // size of the whole file; -1 when not announced
    qint64 resumedFrom = 0;
    QUrl finalUrl;
    QString contentType; // without parameters
    QString validator;   // ETag or Last-Modified
    int retryAfterSeconds = -1;
    QString errorText;
    QString savedPath; // Saved: the file written; Exists, CannotReplace: the one in the way
    QString name;      // the final name and type of the file
    QString type;
    bool partKept = false; // the part file stays for a later resume
};

// A running transfer as both threads see it: the window reads the counters, the
// transfer's thread writes them and, last of all, the outcome.
struct TransferTicket {
    quint64 id = 0;
    TransferJob job;
    std::atomic<qint64> received{0};
    std::atomic<qint64> total{-1};
    std::atomic<bool> responded{false};
    std::atomic<bool> cancelRequested{false};
    std::atomic<bool> finished{false};
    TransferOutcome outcome; // read only once finished is true
};
