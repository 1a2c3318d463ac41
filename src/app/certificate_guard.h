#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWebEngineCertificateError>

class BrowserPage;
class Prompter;
class QWebEngineProfile;
class QWebEngineLoadingInfo;

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
// The status-bar text for a page of host that opened without a question
// because the user accepted the site's certificate earlier in this run.
QString AcceptedCertificateNote(const QString& host);

// What one certificate error is about: errors with equal keys may share one answer.
struct CertificateErrorKey {
    QString host;
    int port = -1;
    int type = 0;
    QByteArray sha256; // of the site's own (leaf) certificate; empty when there is none
    bool operator==(const CertificateErrorKey&) const = default;
};
CertificateErrorKey KeyOf(const QWebEngineCertificateError& error);

// The untrusted certificates the user accepted in this run, kept with the
// browser profile: the engine remembers each "yes" there for every page of
// the profile until the program ends, and offers no way to forget it.
class AcceptedCertificates : public QObject {
    Q_OBJECT

public:
    // The record of profile, made on first use; it lives as long as the profile.
    static AcceptedCertificates* of(QWebEngineProfile* profile);

    void add(const CertificateErrorKey& key);
    QList<CertificateErrorKey> entries() const { return entries_; }
    // Some certificate of host was accepted (the engine's exceptions hold for
    // every port of a host).
    bool hasHost(const QString& host) const;

private:
    explicit AcceptedCertificates(QObject* parent);

    QList<CertificateErrorKey> entries_;
};

// Decides for one browser pane what happens to a page whose certificate the
// engine does not trust: a silent pane (no script dialogs) refuses it, any other
// asks the user through the prompter whether to continue. Without a prompter
// every such page is refused. A refusal is told by StatusText, and so is a page
// that a silent pane opened because the site's certificate was accepted before.
class CertificateGuard : public QObject {
    Q_OBJECT

public:
    // Watches page and lives as long as it; prompter must outlive both or be null.
    CertificateGuard(BrowserPage* page, Prompter* prompter);

signals:
    void StatusText(const QString& text);

private:
    void onError(const QWebEngineCertificateError& error);
    void onLoadEnded(const QWebEngineLoadingInfo& info);
    void askNext();
    void refuse(const QString& text);

    QPointer<BrowserPage> page_;
    Prompter* prompter_;
    // Errors that wait for the user's answer; errors with the same key share one question.
    QList<QWebEngineCertificateError> waiting_;
    bool asking_ = false;
    // Said again when the refused load has ended, as the page clears its status text then.
    QString refusal_;
};
