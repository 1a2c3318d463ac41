#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

class QUrl;

// Hosts that asked to be left alone for a while (429 Too Many Requests, 503
// Service Unavailable): their tasks wait while other hosts' tasks go ahead.
class HostWaits {
public:
    // The host (and port) an address is waited on by, lower-case.
    static QString HostOf(const QUrl& url);
    // Whether an answer asks the client to come back later.
    static bool IsBusyAnswer(int httpStatus) { return httpStatus == 429 || httpStatus == 503; }

    // A busy answer from host at now, with the seconds its Retry-After gave (-1 for
    // none): returns when the host may be asked again. Without Retry-After the wait
    // starts at the first backoff and doubles with every further busy answer, up to
    // the most. Answers to requests sent before the host began waiting belong to the
    // same burst and do not double it again.
    QDateTime busy(const QString& host, int retryAfterSeconds, const QDateTime& now);
    // The host answered normally: a later busy answer starts the backoff over.
    void answered(const QString& host);
    // Holds host until then at least (a wait remembered by a task from an earlier run).
    void holdUntil(const QString& host, const QDateTime& until);
    // Whether host is still waiting at now.
    bool waiting(const QString& host, const QDateTime& now) const;
    // Whether any host is still waiting at now.
    bool anyWaiting(const QDateTime& now) const;

private:
    struct Host {
        QDateTime until;
        int backoffs = 0; // busy answers without Retry-After since the last normal one
    };
    QHash<QString, Host> hosts_;
};

// The percent column of a task waiting for its host: "稍后重试 HH:MM:SS".
QString RetryLaterText(const QDateTime& at);
