#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWebEngineCertificateError>

class BrowserPage;
class Prompter;

// What the user is told about an untrusted certificate.
struct CertificateFacts {
    QString host;
    QString problem; // the error, in Chinese
    QString subject; // who the certificate was issued to; empty when it is not known
    QDateTime validFrom;
    QDateTime validUntil;
    bool overridable = true; // the engine allows continuing at all
};

CertificateFacts DescribeCertificateError(const QWebEngineCertificateError& error);
// The question whether to continue to the page anyway.
QString CertificateQuestion(const CertificateFacts& facts);
// The status-bar text for a refused page; silent says it was refused without asking.
QString CertificateRefusal(const CertificateFacts& facts, bool silent);

// Decides for one browser pane what happens to a page whose certificate the
// engine does not trust: a silent pane (no script dialogs) refuses it, any other
// asks the user through the prompter whether to continue for this page. Without
// a prompter every such page is refused. A refusal is told by StatusText.
class CertificateGuard : public QObject {
    Q_OBJECT

public:
    // Watches page and lives as long as it; prompter must outlive both or be null.
    CertificateGuard(BrowserPage* page, Prompter* prompter);

signals:
    void StatusText(const QString& text);

private:
    void onError(const QWebEngineCertificateError& error);
    void askNext();
    void refuse(const QString& text);

    QPointer<BrowserPage> page_;
    Prompter* prompter_;
    // Errors that wait for the user's answer; errors for one host share one question.
    QList<QWebEngineCertificateError> waiting_;
    bool asking_ = false;
    // Said again when the refused load has ended, as the page clears its status text then.
    QString refusal_;
};
