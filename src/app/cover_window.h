#pragma once

#include "tools/widget_prompter.h"

#include <QPointer>
#include <QWidget>

#include <functional>

struct AppContext;
class QLabel;
class QPushButton;
class QTimer;
class fWebSearch;
class uXMLHTTP;

// The start window: title, version and the way into the search window.
class fCover : public QWidget {
    Q_OBJECT

public:
    // prompter asks the user (the window's own dialogs when null).
    explicit fCover(AppContext& context, Prompter* prompter = nullptr, QWidget* parent = nullptr);

    QPushButton* Command1; // "资料检索下载"
    QPushButton* Command3; // "退出软件"
    QLabel* Label2;        // version
    QLabel* Label3;        // newest version, filled by the update check
    QLabel* Image1;
    QTimer* Timer1;
    uXMLHTTP* uXMLHTTP2; // the update check's request

    // Opens the product page in the default browser; replaceable for tests.
    std::function<void(const QString& address)> openUrl;

    // The search window while it is open.
    fWebSearch* searchWindow() const;

    // "资料检索下载": hide this window and show the search window.
    void openSearchWindow();

    // Asks the maker's server for the newest version (nothing when the program
    // has no update address).
    void 获取最新版本();
    // The version file's text as last fetched.
    QString fetchedVersionText() const { return versionText_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void loadOnce();
    void evaluateVersionFile();

    AppContext& context_;
    WindowPrompter prompter_;
    QString versionText_;
    QPointer<fWebSearch> search_;
    bool loaded_ = false;
};

// "版本:" + major.minor.revision
QString CoverVersionText();
