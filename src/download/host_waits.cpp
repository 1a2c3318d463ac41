#include "download/host_waits.h"

#include "tools/time_limits.h"

#include <QUrl>

#include <algorithm>

QString HostWaits::HostOf(const QUrl& url) {
    const int defaultPort = url.scheme().compare(u"https", Qt::CaseInsensitive) == 0 ? 443 : 80;
    return url.host().toLower() + u':' + QString::number(url.port(defaultPort));
}

QDateTime HostWaits::busy(const QString& host, int retryAfterSeconds, const QDateTime& now) {
    Host& h = hosts_[host];
    const bool alreadyWaiting = h.until.isValid() && h.until > now;
    qint64 waitMs = 0;
    // A server that names a wait gets it (within reason); "0" or nothing usable is
    // treated as no answer, so a busy server is never asked again at once.
    if (retryAfterSeconds > 0) {
        waitMs = std::min<qint64>(qint64(retryAfterSeconds) * 1000,
                                  TimeLimits::Scaled(TimeLimits::RetryAfterCap).count());
    } else {
        if (!alreadyWaiting)
            ++h.backoffs;
        const qint64 most = TimeLimits::Scaled(TimeLimits::HostBackoffMost).count();
        waitMs = TimeLimits::Scaled(TimeLimits::HostBackoffFirst).count();
        for (int i = 1; i < h.backoffs && waitMs < most; ++i)
            waitMs *= 2;
        waitMs = std::min(waitMs, most);
    }
    const QDateTime until = now.addMSecs(waitMs);
    if (!alreadyWaiting || until > h.until)
        h.until = until;
    return h.until;
}

void HostWaits::answered(const QString& host) {
    const auto it = hosts_.find(host);
    if (it != hosts_.end())
        it->backoffs = 0;
}

void HostWaits::holdUntil(const QString& host, const QDateTime& until) {
    Host& h = hosts_[host];
    if (!h.until.isValid() || until > h.until)
        h.until = until;
}

bool HostWaits::waiting(const QString& host, const QDateTime& now) const {
    const auto it = hosts_.constFind(host);
    return it != hosts_.constEnd() && it->until.isValid() && it->until > now;
}

bool HostWaits::anyWaiting(const QDateTime& now) const {
    return std::any_of(hosts_.cbegin(), hosts_.cend(),
                       [&now](const Host& h) { return h.until.isValid() && h.until > now; });
}

QString RetryLaterText(const QDateTime& at) {
    return QStringLiteral("稍后重试 ") + at.toString(QStringLiteral("HH:mm:ss"));
}
