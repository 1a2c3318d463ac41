#pragma once

#include <QObject>
#include <QUrl>

class BrowserPage;

// Follows a page's top-level loads: after expect(), the load counts as done only
// when the load of the address asked for (or of the page a redirect or refresh
// led on to) finished. A late finish of an earlier page names another address
// and is passed over.
class LoadWatch : public QObject {
    Q_OBJECT

public:
    explicit LoadWatch(BrowserPage* page, QObject* parent = nullptr);

    void expect(const QUrl& url);
    bool complete() const { return complete_; }
    // Top-level navigations let through since expect().
    int navigations() const { return navigations_; }

signals:
    // Something happened; waiters check their conditions again.
    void changed();

private:
    QUrl target_;
    bool expecting_ = false;
    bool complete_ = false;
    int navigations_ = 0;
};

// Equal addresses, fragments and "." / ".." path parts aside.
bool SameAddress(const QUrl& a, const QUrl& b);
