#pragma once

#include <QPointer>
#include <QWidget>

struct AppContext;
class QLabel;
class QPushButton;
class QTimer;
class fWebSearch;

// The start window: title, version and the way into the search window.
class fCover : public QWidget {
    Q_OBJECT

public:
    explicit fCover(AppContext& context, QWidget* parent = nullptr);

    QPushButton* Command1; // "资料检索下载"
    QPushButton* Command3; // "退出软件"
    QLabel* Label2;        // version
    QLabel* Label3;        // newest version, filled by the update check
    QLabel* Image1;
    QTimer* Timer1;

    // The search window while it is open.
    fWebSearch* searchWindow() const;

    // "资料检索下载": hide this window and show the search window.
    void openSearchWindow();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void loadOnce();

    AppContext& context_;
    QPointer<fWebSearch> search_;
    bool loaded_ = false;
};

// "版本:" + major.minor.revision
QString CoverVersionText();
