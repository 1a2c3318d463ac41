#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <QElapsedTimer>

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

    // The load asked for ended without a document of its own and nothing
    // followed: it became a download, the server had no content for it, or it
    // was cancelled. No document will come.
    bool endedWithoutDocument() const;
    // The address and MIME type of the download the load asked for became; empty
    // when it became none.
    QUrl downloadUrl() const { return downloadUrl_; }
    QString downloadType() const { return downloadType_; }

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
    int endedAt_ = -1; // navigations_ when a load last ended without a document
    QElapsedTimer sinceEnd_;
    QUrl downloadUrl_;
    QString downloadType_;
};

// Equal addresses, fragments and "." / ".." path parts aside.
bool SameAddress(const QUrl& a, const QUrl& b);
