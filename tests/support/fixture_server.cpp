#include "fixture_server.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <QUrl>
#include <QUrlQuery>
#include <zlib.h>

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
    case 206:
        return "Partial Content";
    case 307:
        return "Temporary Redirect";
    case 416:
        return "Range Not Satisfiable";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 429:
        return "Too Many Requests";
    case 503:
        return "Service Unavailable";
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
    request.target = first.value(1);
    QByteArray target = request.target;
    // A request to a proxy names the whole address; the path is what follows the host.
    if (target.startsWith("http://") || target.startsWith("https://")) {
        const qsizetype slash = target.indexOf('/', target.indexOf("://") + 3);
        target = slash < 0 ? QByteArray("/") : target.mid(slash);
    }
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
    const QString routes = QDir(root_).filePath(QStringLiteral(".routes"));
    if (QFileInfo::exists(routes))
        addRoutesFrom(routes);
}

bool FixtureServer::addRoutesFrom(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n');
    for (const QString& line : lines) {
        const QStringList w = line.simplified().split(u' ', Qt::SkipEmptyParts);
        if (w.isEmpty() || w.first().startsWith(u'#'))
            continue;
        if (w.first() == u"redirect" && w.size() == 4) {
            redirect(w.at(2), w.at(3), w.at(1).toInt());
        } else if (w.first() == u"stall" && w.size() == 3) {
            const QString path = w.at(2);
            route(w.at(1), [this, path](const Request& request) {
                Request file = request;
                file.path = path;
                Response r = staticFile(file);
                const qsizetype mark = r.body.indexOf("<!--stall-->");
                r.stallAfter = mark < 0 ? r.body.size() : mark;
                return r;
            });
        } else if (w.first() == u"login" && w.size() >= 4) {
            login(w.at(1), w.at(2).toUtf8(), w.at(3), w.mid(4));
        } else if (w.first() == u"gated" && w.size() == 5) {
            gated(w.at(1), w.at(2), w.at(3).toUtf8(), w.at(4));
        } else {
            return false;
        }
    }
    return true;
}

namespace {

// The fields of a submitted form: the query of a GET, the body of a POST.
QHash<QString, QString> FormFields(const FixtureServer::Request& request) {
    QString text = request.method == "POST" ? QString::fromUtf8(request.body) : request.query;
    text.replace(u'+', QStringLiteral("%20")); // form encoding's space
    QHash<QString, QString> fields;
    for (const auto& [name, value] : QUrlQuery(text).queryItems(QUrl::FullyDecoded))
        fields.insert(name.toLower(), value);
    return fields;
}

bool CarriesCookie(const FixtureServer::Request& request, const QByteArray& cookie) {
    for (const QByteArray& pair : request.headers.value("cookie").split(';')) {
        if (pair.trimmed() == cookie)
            return true;
    }
    return false;
}

} // namespace

void FixtureServer::login(const QString& from, const QByteArray& cookie, const QString& page,
                          const QStringList& fields) {
    route(from, [this, cookie, page, fields](const Request& request) {
        const QHash<QString, QString> form = FormFields(request);
        for (const QString& field : fields) {
            if (form.value(field.toLower()).trimmed().isEmpty()) {
                Response refused;
                refused.status = 403;
                refused.body = "<html><head><title>Sign-in failed</title></head>"
                               "<body>Account and password are both needed.</body></html>";
                return refused;
            }
        }
        Request file = request;
        file.path = page;
        Response r = staticFile(file);
        r.headers.append({"Set-Cookie", cookie + "; Path=/"});
        return r;
    });
}

void FixtureServer::gated(const QString& from, const QString& file, const QByteArray& cookie,
                          const QString& page) {
    route(from, [this, file, cookie, page](const Request& request) {
        Request shown = request;
        shown.path = CarriesCookie(request, cookie) ? file : page;
        return staticFile(shown);
    });
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
    requests.append(request);
    const auto handler = routes_.constFind(request.path);
    const Response response =
        handler != routes_.constEnd() ? (*handler)(request) : staticFile(request);
    if (response.delayMs > 0) {
        QPointer<QTcpSocket> guard = socket;
        QTimer::singleShot(response.delayMs, this, [this, guard, request, response] {
            if (guard)
                write(guard, request, response);
        });
        return;
    }
    write(socket, request, response);
}

namespace {

QByteArray Gzip(const QByteArray& data) {
    // qCompress gives zlib (a 4-byte length, then a zlib stream); gzip wants a raw
    // deflate stream between its own header and trailer.
    const QByteArray zlib = qCompress(data, 6).mid(4);
    const QByteArray deflate = zlib.mid(2, zlib.size() - 6);
    QByteArray out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff", 10);
    out += deflate;
    const quint32 crc =
        quint32(crc32(0L, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
    const quint32 size = quint32(data.size());
    for (quint32 v : {crc, size}) {
        for (int i = 0; i < 4; ++i)
            out += char((v >> (8 * i)) & 0xFF);
    }
    return out;
}

// Sends one response body according to its fault settings, a piece at a time,
// so big files never sit in memory.
class Sender : public QObject {
public:
    Sender(QTcpSocket* socket, FixtureServer::Response response, qint64 length, bool head,
           qint64 fileOffset)
        : QObject(socket)
        , socket_(socket)
        , r_(std::move(response))
        , length_(length)
        , head_(head) {
        if (!r_.bodyFile.isEmpty()) {
            file_.setFileName(r_.bodyFile);
            if (file_.open(QIODevice::ReadOnly))
                file_.seek(fileOffset);
        }
        connect(socket_, &QTcpSocket::bytesWritten, this, [this] { pump(); });
        connect(&drip_, &QTimer::timeout, this, [this] { pump(); });
        drip_.setSingleShot(true);
    }

    void start() {
        if (head_) {
            finish();
            return;
        }
        pump();
    }

private:
    QByteArray nextPiece(qint64 max) {
        if (file_.isOpen())
            return file_.read(max);
        const QByteArray piece = r_.body.mid(offset_, max);
        return piece;
    }

    void pump() {
        if (done_ || !socket_ || drip_.isActive())
            return;
        while (socket_->bytesToWrite() < 1024 * 1024) {
            qint64 want = 256 * 1024;
            if (r_.dripBytes > 0)
                want = r_.dripBytes;
            if (r_.cutAfter >= 0)
                want = std::min(want, r_.cutAfter - offset_);
            if (r_.stallAfter >= 0)
                want = std::min(want, r_.stallAfter - offset_);
            want = std::min(want, length_ - offset_);
            if (want <= 0)
                break;
            const QByteArray piece = nextPiece(want);
            if (piece.isEmpty())
                break;
            offset_ += piece.size();
            if (r_.chunked)
                socket_->write(QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n");
            else
                socket_->write(piece);
            if (r_.dripBytes > 0 && offset_ < length_) {
                drip_.start(r_.dripDelayMs);
                return;
            }
        }
        if (r_.stallAfter >= 0 && offset_ >= r_.stallAfter) {
            done_ = true; // keep the connection open, send nothing more
            return;
        }
        if (r_.cutAfter >= 0 && offset_ >= r_.cutAfter) {
            done_ = true;
            if (r_.resetAtCut)
                socket_->abort();
            else
                socket_->disconnectFromHost();
            return;
        }
        if (offset_ >= length_ && socket_->bytesToWrite() == 0)
            finish();
        else if (offset_ >= length_)
            connect(socket_, &QTcpSocket::bytesWritten, this, [this] {
                if (socket_->bytesToWrite() == 0)
                    finish();
            });
    }

    void finish() {
        if (done_)
            return;
        done_ = true;
        if (r_.chunked && !head_)
            socket_->write("0\r\n\r\n");
        socket_->disconnectFromHost();
    }

    QPointer<QTcpSocket> socket_;
    FixtureServer::Response r_;
    QFile file_;
    QTimer drip_;
    qint64 length_;
    qint64 offset_ = 0;
    bool head_;
    bool done_ = false;
};

} // namespace

namespace {

// "bytes=N-" gives N; anything else -1.
qint64 OpenRangeStart(const QByteArray& range) {
    const QByteArray text = range.trimmed();
    if (!text.startsWith("bytes=") || !text.endsWith('-'))
        return -1;
    bool ok = false;
    const qint64 start = text.mid(6, text.size() - 7).toLongLong(&ok);
    return ok && start >= 0 ? start : -1;
}

} // namespace

void FixtureServer::write(QTcpSocket* socket, const Request& request, const Response& given) {
    Response response = given;
    if (response.gzip) {
        response.body = Gzip(response.body);
        response.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
    }
    qint64 length =
        response.bodyFile.isEmpty() ? response.body.size() : QFileInfo(response.bodyFile).size();
    qint64 fileOffset = 0;
    if (!response.etag.isEmpty())
        response.headers.append({"ETag", response.etag});
    if (!response.lastModified.isEmpty())
        response.headers.append({"Last-Modified", response.lastModified});
    const qint64 start = OpenRangeStart(request.headers.value("range"));
    const QByteArray ifRange = request.headers.value("if-range");
    const bool sameVersion =
        ifRange.isEmpty() || ifRange == response.etag || ifRange == response.lastModified;
    if (response.status == 200 && response.ranges && !response.gzip && !response.chunked &&
        start >= 0 && sameVersion) {
        if (start >= length) {
            response.status = 416;
            response.headers.append({"Content-Range", "bytes */" + QByteArray::number(length)});
            response.body.clear();
            response.bodyFile.clear();
            length = 0;
        } else {
            response.status = 206;
            response.headers.append({"Content-Range", "bytes " + QByteArray::number(start) + '-' +
                                                          QByteArray::number(length - 1) + '/' +
                                                          QByteArray::number(length)});
            if (response.bodyFile.isEmpty())
                response.body = response.body.mid(start);
            else
                fileOffset = start;
            length -= start;
        }
    }
    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                     ReasonPhrase(response.status) + "\r\n";
    out += "Content-Type: " + response.contentType + "\r\n";
    if (response.chunked)
        out += "Transfer-Encoding: chunked\r\n";
    else if (response.sendLength)
        out +=
            "Content-Length: " +
            QByteArray::number(response.announcedLength >= 0 ? response.announcedLength : length) +
            "\r\n";
    out += "Connection: close\r\n";
    for (const auto& header : response.headers)
        out += header.first + ": " + header.second + "\r\n";
    out += "\r\n";
    socket->write(out);
    auto* sender = new Sender(socket, response, length, request.method == "HEAD", fileOffset);
    sender->start();
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

void FixtureServer::hostileRange(const QString& path, const HostileRange& shape) {
    route(path, [shape](const Request& request) {
        Response r;
        r.contentType = "application/pdf";
        r.body = shape.body;
        r.etag = shape.etag;
        r.lastModified = shape.lastModified;
        r.ranges = false;
        const qint64 start = OpenRangeStart(request.headers.value("range"));
        if (start < 0 || start >= shape.body.size())
            return r;
        r.status = 206;
        r.etag = shape.rangeEtag.value_or(shape.etag);
        r.lastModified = shape.rangeLastModified.value_or(shape.lastModified);
        r.headers.append({"Content-Range", "bytes " + QByteArray::number(start) + '-' +
                                               QByteArray::number(shape.body.size() - 1) + '/' +
                                               QByteArray::number(shape.body.size())});
        r.body = shape.body.mid(start);
        if (shape.extraBytes > 0)
            r.body += QByteArray(shape.extraBytes, 'X');
        else
            r.body.chop(-shape.extraBytes);
        r.chunked = shape.chunked;
        r.sendLength = false;
        return r;
    });
}
