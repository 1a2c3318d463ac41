#include "fixture_server.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace {

QByteArray ReasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

// Parses a complete request head and body from buffer; false while incomplete.
bool ParseRequest(const QByteArray& buffer, FixtureServer::Request& request) {
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return false;
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    const QByteArray target = first.value(1);
    const qsizetype q = target.indexOf('?');
    request.path = QUrl::fromPercentEncoding(q < 0 ? target : target.left(q));
    request.query = q < 0 ? QString() : QString::fromUtf8(target.mid(q + 1));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.insert(line.left(colon).trimmed().toLower(),
                                   line.mid(colon + 1).trimmed());
    }
    const qsizetype length = request.headers.value("content-length", "0").toLongLong();
    if (buffer.size() - headEnd - 4 < length)
        return false;
    request.body = buffer.mid(headEnd + 4, length);
    return true;
}

} // namespace

FixtureServer::FixtureServer(QObject* parent)
    : QObject(parent) {
    connect(&server_, &QTcpServer::newConnection, this, &FixtureServer::onConnection);
}

bool FixtureServer::start(quint16 port) {
    return server_.listen(QHostAddress::LocalHost, port);
}

quint16 FixtureServer::port() const {
    return server_.serverPort();
}

QString FixtureServer::url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

void FixtureServer::setRoot(const QString& folder) {
    root_ = QDir(folder).canonicalPath();
}

void FixtureServer::route(const QString& path, Handler handler) {
    routes_.insert(path, std::move(handler));
}

void FixtureServer::redirect(const QString& from, const QString& to, int status) {
    route(from, [to, status](const Request&) {
        Response r;
        r.status = status;
        r.body = "moved";
        r.headers.append({"Location", to.toUtf8()});
        return r;
    });
}

void FixtureServer::page(const QString& path, const QByteArray& html) {
    route(path, [html](const Request&) {
        Response r;
        r.body = html;
        return r;
    });
}

void FixtureServer::onConnection() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            Request request;
            if (!ParseRequest(*buffer, request))
                return;
            buffer->clear();
            serve(socket, request);
        });
    }
}

void FixtureServer::serve(QTcpSocket* socket, const Request& request) {
    log.append(QString::fromLatin1(request.method) + u' ' + request.path +
               (request.query.isEmpty() ? QString() : u'?' + request.query));
    const auto handler = routes_.constFind(request.path);
    const Response response =
        handler != routes_.constEnd() ? (*handler)(request) : staticFile(request);
    if (response.delayMs > 0) {
        QPointer<QTcpSocket> guard = socket;
        QTimer::singleShot(response.delayMs, this, [guard, request, response] {
            if (guard)
                write(guard, request, response);
        });
        return;
    }
    write(socket, request, response);
}

void FixtureServer::write(QTcpSocket* socket, const Request& request, const Response& response) {
    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                     ReasonPhrase(response.status) + "\r\n";
    out += "Content-Type: " + response.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    out += "Connection: close\r\n";
    for (const auto& header : response.headers)
        out += header.first + ": " + header.second + "\r\n";
    out += "\r\n";
    if (request.method != "HEAD")
        out += response.body;
    socket->write(out);
    socket->disconnectFromHost();
}

FixtureServer::Response FixtureServer::staticFile(const Request& request) const {
    Response response;
    if (!root_.isEmpty()) {
        const QString path = QDir::cleanPath(root_ + u'/' + request.path);
        QFileInfo info(path);
        if (info.isDir())
            info.setFile(path + QStringLiteral("/index.html"));
        const QString canonical = info.canonicalFilePath();
        QFile file(canonical);
        if (!canonical.isEmpty() && canonical.startsWith(root_ + u'/') &&
            file.open(QIODevice::ReadOnly)) {
            response.body = file.readAll();
            const QString mime = QMimeDatabase().mimeTypeForFile(info).name();
            response.contentType =
                mime.startsWith(u"text/") ? mime.toUtf8() + "; charset=utf-8" : mime.toUtf8();
            return response;
        }
    }
    response.status = 404;
    response.body = "<html><head><title>404</title></head><body>Not Found</body></html>";
    return response;
}
