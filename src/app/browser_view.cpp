#include "app/browser_view.h"

BrowserView::BrowserView(QWebEngineProfile* profile, QWidget* parent)
    : QWebEngineView(parent)
    , page_(new BrowserPage(profile, this)) {
    setPage(page_);
}
