#pragma once

#include <QByteArray>
#include <QObject>
#include <QSslCertificate>
#include <QSslServer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// An HTTPS server on 127.0.0.1 with a fresh self-signed certificate (made with
// openssl), answering every request with one fixed HTML page.
class TlsFixtureServer : public QObject {
    Q_OBJECT

public:
    explicit TlsFixtureServer(QObject* parent = nullptr);

    // Makes the certificate (subject CN=127.0.0.1, O=Quillmarsh Test) and listens.
    bool start();
    // https://127.0.0.1:PORT + path
    QString url(const QString& path) const;
    QSslCertificate certificate() const { return certificate_; }

    QByteArray page = "<html><head><title>Secret page</title></head><body>secret</body></html>";
    // Requests answered: none as long as no client trusted the certificate.
    int requests = 0;
    // "METHOD /path" of every request answered, in order.
    QStringList log;

private:
    QTemporaryDir keys_;
    QSslServer server_;
    QSslCertificate certificate_;
};
