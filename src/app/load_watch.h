#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <qcoro/qcorotask.h>

class BrowserPage;

// Tells when a page has loaded the address it was sent to. The engine's own
// "finished" reports are no proof: one can arrive late for an earlier page, one
// can name the earlier page when two loads ran into each other, and a page may
// rewrite its address while loading. So they only wake the waiter; what counts
// is the document itself: fully loaded, and not the blank page or an address
// passed over (the page shown before).
class LoadWatch : public QObject {
    Q_OBJECT

public:
    explicit LoadWatch(BrowserPage* page, QObject* parent = nullptr);

    // Starts watching for url (what Navigate returned).
    void expect(const QUrl& url);
    // A document at url is not the one expected (unless url is the one expected).
    void passOver(const QUrl& url) { passedOver_.append(url); }

    // The page shows the expected document (or one a redirect or refresh led
    // to), completely loaded.
    QCoro::Task<bool> loaded();

    // Top-level navigations let through since expect().
    int navigations() const { return navigations_; }

signals:
    // Something happened (or a poll period passed); waiters check again.
    void changed();

private:
    bool expected(const QUrl& document) const;

    QPointer<BrowserPage> page_;
    QTimer poll_;
    QUrl target_;
    QList<QUrl> passedOver_;
    int navigations_ = 0;
};

// Equal addresses, fragments and "." / ".." path parts aside.
bool SameAddress(const QUrl& a, const QUrl& b);
