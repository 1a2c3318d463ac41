#include "app/load_watch.h"

#include "app/browser_page.h"

bool SameAddress(const QUrl& a, const QUrl& b) {
    const auto form = QUrl::RemoveFragment | QUrl::NormalizePathSegments;
    return a.adjusted(form) == b.adjusted(form);
}

LoadWatch::LoadWatch(BrowserPage* page, QObject* parent)
    : QObject(parent) {
    connect(page, &BrowserPage::MainFrameNavigation, this, [this](const QUrl& url) {
        if (expecting_) {
            target_ = url;
            complete_ = false;
            ++navigations_;
        }
        emit changed();
    });
    connect(page, &BrowserPage::DocumentComplete, this, [this](const QUrl& url) {
        if (expecting_ && SameAddress(url, target_))
            complete_ = true;
        emit changed();
    });
    connect(page, &QObject::destroyed, this, &LoadWatch::changed);
}

void LoadWatch::expect(const QUrl& url) {
    target_ = url;
    complete_ = false;
    expecting_ = true;
    navigations_ = 0;
}
