#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QStringList>
#include <QTcpServer>

#include <functional>
#include <optional>

// A small HTTP/1.1 server on 127.0.0.1 for tests and the offline demo: static
// files from a folder plus scripted routes. One request per connection.
class FixtureServer : public QObject {
    Q_OBJECT

public:
    struct Request {
        QByteArray method;
        QByteArray target;                     // as sent: absolute when it came to a proxy
        QString path;                          // decoded path without the query
        QString query;                         // text after "?"
        QHash<QByteArray, QByteArray> headers; // names lower-cased
        QByteArray body;
    };
    struct Response {
        int status = 200;
        QByteArray contentType = "text/html; charset=utf-8";
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        int delayMs = 0; // answer only after this long

        // Faults and transfer forms, for the download tests.
        QString bodyFile;            // stream this file instead of body (big files)
        bool sendLength = true;      // Content-Length header
        qint64 announcedLength = -1; // announce this length instead of the real one
        qint64 cutAfter = -1;        // stop sending after this many body bytes ...
        bool resetAtCut = false;     // ... and reset the connection instead of closing it
        qint64 stallAfter = -1;      // send this many body bytes, then nothing, connection open
        int dripBytes = 0;           // send the body this many bytes at a time ...
        int dripDelayMs = 0;         // ... with this pause between them
        bool chunked = false;        // Transfer-Encoding: chunked
        bool gzip = false;           // Content-Encoding: gzip (body compressed here)

        // Validators. "Range: bytes=N-" gets 206 with the rest (or 416 past the end)
        // unless ranges is off or If-Range names another version.
        QByteArray etag;
        QByteArray lastModified;
        bool ranges = true;
    };
    using Handler = std::function<Response(const Request&)>;

    explicit FixtureServer(QObject* parent = nullptr);

    // Listens on a free loopback port; false when that failed.
    bool start(quint16 port = 0);
    quint16 port() const;
    // http://127.0.0.1:PORT + path
    QString url(const QString& path) const;

    // Files under folder are served by path; ".." never leaves it. The
    // folder's ".routes" file, when there is one, adds the routes it lists.
    void setRoot(const QString& folder);
    // Adds routes from a text file, one a line ("#" starts a comment):
    //   redirect STATUS FROM TO   FROM answers STATUS with Location: TO
    //   stall FROM FILE           FROM sends FILE (under the root) up to its
    //                             "<!--stall-->" mark, then nothing, connection open
    //   login FROM COOKIE PAGE [FIELD...]
    //                             FROM signs in: when every FIELD of the submitted
    //                             form (names in any case) is filled, it sets COOKIE
    //                             (name=value, for the whole site) and shows PAGE;
    //                             otherwise 403
    //   gated FROM FILE COOKIE PAGE
    //                             FROM sends FILE to a request that carries COOKIE,
    //                             else PAGE (a login page) with status 200
    bool addRoutesFrom(const QString& file);
    // The routes above, set in code.
    void login(const QString& from, const QByteArray& cookie, const QString& page,
               const QStringList& fields = {});
    void gated(const QString& from, const QString& file, const QByteArray& cookie,
               const QString& page);
    void route(const QString& path, Handler handler);
    void redirect(const QString& from, const QString& to, int status = 302);
    // A fixed HTML page at path.
    void page(const QString& path, const QByteArray& html);

    // A file whose server misbehaves on "Range: bytes=N-": a plain request gets
    // body with the validators below; a range request gets a 206 with the rest,
    // whatever If-Range says, framed, sized and labelled as set here.
    struct HostileRange {
        QByteArray body;
        QByteArray etag;
        QByteArray lastModified;
        bool chunked = false;  // the 206 chunked; otherwise sent up to the connection's close
        qint64 extraBytes = 0; // the 206 sends this many more bytes than its Content-Range
                               // says (negative: fewer)
        std::optional<QByteArray> rangeEtag; // the 206's validators; unset: as above, empty: none
        std::optional<QByteArray> rangeLastModified;
    };
    void hostileRange(const QString& path, const HostileRange& shape);

    // The answer the static files give for request.
    Response staticFile(const Request& request) const;

    // "METHOD /path?query" of every request served, in order.
    QStringList log;
    // Every request served, headers included, in order.
    QList<Request> requests;

private:
    void onConnection();
    void serve(class QTcpSocket* socket, const Request& request);
    void write(QTcpSocket* socket, const Request& request, const Response& response);
    QTcpServer server_;
    QString root_;
    QHash<QString, Handler> routes_;
};
