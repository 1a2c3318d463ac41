#pragma once

#include "app/browser_page.h"

#include <QWebEngineView>

// The visible browser: a view over a BrowserPage.
class BrowserView : public QWebEngineView {
    Q_OBJECT

public:
    BrowserView(QWebEngineProfile* profile, QWidget* parent = nullptr);

    BrowserPage* browser() const { return page_; }

private:
    BrowserPage* page_;
};
