#include "tls_server.h"

#include <QFile>
#include <QProcess>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>

#include <memory>

TlsFixtureServer::TlsFixtureServer(QObject* parent)
    : QObject(parent) {
    connect(&server_, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            auto head = std::make_shared<QByteArray>();
            connect(socket, &QIODevice::readyRead, this, [this, socket, head] {
                head->append(socket->readAll());
                if (!head->contains("\r\n\r\n"))
                    return;
                const QByteArray requestLine = head->left(head->indexOf("\r\n"));
                log.append(QString::fromLatin1(requestLine.left(requestLine.lastIndexOf(' '))));
                head->clear();
                ++requests;
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                              "Content-Length: " +
                              QByteArray::number(page.size()) + "\r\nConnection: close\r\n\r\n" +
                              page);
                socket->disconnectFromHost();
            });
        }
    });
}

bool TlsFixtureServer::start() {
    const QString cert = keys_.filePath(QStringLiteral("cert.pem"));
    const QString key = keys_.filePath(QStringLiteral("key.pem"));
    const int made = QProcess::execute(
        QStringLiteral("openssl"),
        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
         QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
         QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
         QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
         QStringLiteral("/CN=127.0.0.1/O=Quillmarsh Test"), QStringLiteral("-keyout"), key,
         QStringLiteral("-out"), cert});
    QFile certFile(cert);
    QFile keyFile(key);
    if (made != 0 || !certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
        return false;
    certificate_ = QSslCertificate(certFile.readAll());
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificate(certificate_);
    config.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec));
    server_.setSslConfiguration(config);
    return !certificate_.isNull() && server_.listen(QHostAddress::LocalHost);
}

QString TlsFixtureServer::url(const QString& path) const {
    return QStringLiteral("https://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path);
}
