#include "fixture_server.h"
#include "http/status_texts.h"
#include "http/xml_http.h"
#include "test_main.h"
#include "tls_server.h"

#include <QFile>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTemporaryDir>

namespace {

// Every event in order: "ready:STATE:DOWNOK", "arrived", "err:TEXT".
struct EventLog {
    explicit EventLog(uXMLHTTP& http) {
        QObject::connect(&http, &uXMLHTTP::OnReadyStateChange, &http, [this, &http] {
            events << QStringLiteral("ready:%1:%2").arg(http.ReadyState()).arg(http.DownOK());
        });
        QObject::connect(&http, &uXMLHTTP::OnDateArrived, &http,
                         [this] { events << QStringLiteral("arrived"); });
        QObject::connect(&http, &uXMLHTTP::OnDateErr, &http,
                         [this](const QString& text) { events << QStringLiteral("err:") + text; });
    }
    QStringList outcomes() const {
        QStringList out = events;
        out.removeIf([](const QString& e) { return e.startsWith(u"ready:"); });
        return out;
    }
    QStringList events;
};

// cutAfter: close the connection after so many body bytes; stallAfter: go silent.
FixtureServer::Handler Answer(const QByteArray& body, int status = 200,
                              const QByteArray& type = "text/plain", qint64 cutAfter = -1,
                              qint64 stallAfter = -1) {
    return [=](const FixtureServer::Request&) {
        FixtureServer::Response r;
        r.status = status;
        r.body = body;
        r.contentType = type;
        r.cutAfter = cutAfter;
        r.stallAfter = stallAfter;
        return r;
    };
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

const QByteArray Binary("%PDF\0\x01\xff tail", 11);

} // namespace

class TestXmlHttp : public QObject {
    Q_OBJECT

    FixtureServer server_;
    QTemporaryDir dir_;

    // Runs one request to its outcome event.
    bool run(uXMLHTTP& http, EventLog& log, const QString& path, const QString& saveFile = {}) {
        log.events.clear();
        if (!http.Open_(QStringLiteral("GET"), path.startsWith(u"http") ? path : server_.url(path),
                        saveFile))
            return false;
        http.Send_();
        return QTest::qWaitFor([&log] { return !log.outcomes().isEmpty(); }, 10000);
    }

private slots:
    void initTestCase() {
        QVERIFY(server_.start());
        server_.route(QStringLiteral("/newver.txt"), Answer("3.2.16"));
        server_.redirect(QStringLiteral("/moved.txt"), QStringLiteral("/newver.txt"));
        server_.route(QStringLiteral("/echo"), [](const FixtureServer::Request& request) {
            return Answer(request.method + ' ' + request.headers.value("x-asked") + ' ' +
                          request.body)(request);
        });
        server_.route(QStringLiteral("/binary"), Answer(Binary, 200, "application/pdf"));
        server_.route(QStringLiteral("/empty"), Answer(QByteArray()));
        server_.route(QStringLiteral("/cut"),
                      Answer(QByteArray(4000, 'x'), 200, "text/plain", 1000));
        server_.route(QStringLiteral("/stall"),
                      Answer(QByteArray(4000, 'x'), 200, "text/plain", -1, 10));
        server_.route(QStringLiteral("/status"), [](const FixtureServer::Request& request) {
            return Answer("status page", request.query.toInt())(request);
        });
        server_.route(QStringLiteral("/gbk"), Answer(QStringEncoder("GBK").encode(u"最新版本"), 200,
                                                     "text/plain; charset=GBK"));
    }

    void successEventsAndProperties() {
        uXMLHTTP http;
        EventLog log(http);
        QVERIFY(!http.DownOK());
        // The method goes out upper-cased; the redirect is followed.
        QVERIFY(http.Open_(QStringLiteral("get"), server_.url(QStringLiteral("/moved.txt"))));
        QCOMPARE(http.ReadyState(), 1);
        http.Send_();
        QVERIFY(QTest::qWaitFor([&log] { return !log.outcomes().isEmpty(); }, 10000));
        // State changes first, the last one finished but DownOK not yet set; then one outcome.
        QVERIFY(log.events.size() >= 2);
        QCOMPARE(log.events.mid(log.events.size() - 2),
                 (QStringList{QStringLiteral("ready:4:0"), QStringLiteral("arrived")}));
        QCOMPARE(log.outcomes(), QStringList{QStringLiteral("arrived")});
        QVERIFY(http.DownOK());
        QCOMPARE(http.Status(), 200);
        QCOMPARE(http.StatusText(), QStringLiteral("OK"));
        QCOMPARE(http.ResponseText(), QStringLiteral("3.2.16"));
        QCOMPARE(http.GetResponseHeader(QStringLiteral("content-TYPE")),
                 QStringLiteral("text/plain"));
        QVERIFY(
            http.GetAllResponseHeaders().contains(QStringLiteral("Content-Type: text/plain\r\n")));
        QCOMPARE(
            server_.log.mid(server_.log.size() - 2),
            (QStringList{QStringLiteral("GET /moved.txt"), QStringLiteral("GET /newver.txt")}));
        QTest::qWait(100);
        QCOMPARE(log.outcomes().size(), 1);

        // The same component again: a clean state, the header and the body sent as given.
        log.events.clear();
        QVERIFY(http.Open_(QStringLiteral("post"), server_.url(QStringLiteral("/echo"))));
        QVERIFY(!http.DownOK());
        QCOMPARE(http.Status(), 0);
        QCOMPARE(http.ResponseBody(), QByteArray());
        http.SetRequestHeader(QStringLiteral("X-Asked"), QStringLiteral("yes"));
        http.Send_(QStringLiteral("a=1&b=中"));
        QVERIFY(QTest::qWaitFor([&log] { return !log.outcomes().isEmpty(); }, 10000));
        QCOMPARE(http.ResponseText(), QStringLiteral("POST yes a=1&b=中"));

        // The text is decoded by the response's charset.
        QVERIFY(run(http, log, QStringLiteral("/gbk")));
        QCOMPARE(http.ResponseText(), QStringLiteral("最新版本"));
    }

    void savedBodyReplacesTheFileWholeAndOnlyOnSuccess() {
        const QString target = dir_.filePath(QStringLiteral("saved.bin"));
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older and longer file than the new one");
        old.close();
        uXMLHTTP http;
        EventLog log(http);
        QVERIFY(run(http, log, QStringLiteral("/binary"), target));
        QCOMPARE(log.outcomes(), QStringList{QStringLiteral("arrived")});
        QCOMPARE(ReadAll(target), Binary);
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files),
                 QStringList{QStringLiteral("saved.bin")});

        // An empty body, a failure status and a body cut short all leave the file alone.
        for (const QString& path :
             {QStringLiteral("/empty"), QStringLiteral("/status?404"), QStringLiteral("/cut")}) {
            QVERIFY2(run(http, log, path, target), qPrintable(path));
            QCOMPARE(ReadAll(target), Binary);
            QVERIFY(http.DownOK());
        }
        // A cut body is a transport failure: no description, nothing to read.
        QCOMPARE(log.outcomes(), QStringList{QStringLiteral("err:")});
        QCOMPARE(http.ResponseBody(), QByteArray());

        // A file that cannot be written does not hide the response, but says why.
        const QString nowhere = dir_.filePath(QStringLiteral("no/such/folder/file.bin"));
        QVERIFY(run(http, log, QStringLiteral("/binary"), nowhere));
        QCOMPARE(log.outcomes(), QStringList{QStringLiteral("arrived")});
        QVERIFY(!http.SaveError().isEmpty());
        QCOMPARE(http.ResponseBody(), Binary);

        // A body over the limit is a failure whatever its status.
        http.setMaximumBodySize(5);
        QVERIFY(run(http, log, QStringLiteral("/newver.txt"), target));
        QCOMPARE(log.outcomes(), QStringList{QStringLiteral("err:")});
        QCOMPARE(ReadAll(target), Binary);
    }

    void failuresRaiseOnDateErrWithTheStatusDescription() {
        QCOMPARE(int(StatusDescriptionTable().size()), 601);
        QTcpServer closed; // a port nobody listens on: finished without any status
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString refused = QStringLiteral("http://127.0.0.1:%1/x").arg(closed.serverPort());
        closed.close();
        TlsFixtureServer tls;
        QVERIFY(tls.start());
        const QList<std::tuple<QString, int, QString>> cases = {
            {QStringLiteral("/status?404"), 404, QStringLiteral("没有发现文件?查询或URl")},
            {QStringLiteral("/status?505"), 505,
             QStringLiteral("服务器不支持或拒绝支请求头中指定的HTTP版本")},
            {QStringLiteral("/status?201"), 201, QStringLiteral("提示知道新文件的URL")},
            {QStringLiteral("/status?418"), 418, QString()}, // in range, not in the table
            {refused, 0, QString()},
            // A certificate nobody vouches for is never accepted.
            {tls.url(QStringLiteral("/newver.txt")), 0, QString()},
        };
        for (const auto& [path, status, text] : cases) {
            uXMLHTTP http;
            EventLog log(http);
            QVERIFY2(run(http, log, path), qPrintable(path));
            QCOMPARE(log.outcomes(), QStringList{QStringLiteral("err:") + text});
            QVERIFY(log.events.first().startsWith(u"ready:"));
            QCOMPARE(http.Status(), status);
            QVERIFY(http.DownOK());
        }
        QCOMPARE(tls.requests, 0);
    }

    void abortAndReuseRaiseNoStrayEvents() {
        uXMLHTTP http;
        EventLog log(http);
        const qsizetype served = server_.log.size();
        http.Send_(); // before any Open_: nothing
        for (const auto& [method, url] : QList<QPair<QString, QString>>{
                 {QStringLiteral("GET"), QStringLiteral("not an address")},
                 {QStringLiteral("GET"), QStringLiteral("ftp://127.0.0.1/file")},
                 {QStringLiteral("GE T"), server_.url(QStringLiteral("/newver.txt"))}}) {
            QVERIFY2(!http.Open_(method, url), qPrintable(url));
            http.Send_();
        }
        QTest::qWait(150);
        QVERIFY(log.events.isEmpty());
        QCOMPARE(server_.log.size(), served);

        // Abort_ while the body stalls: no event, DownOK stays false, no Send_ without Open_.
        QVERIFY(http.Open_(QStringLiteral("GET"), server_.url(QStringLiteral("/stall"))));
        http.Send_();
        QVERIFY(QTest::qWaitFor([&http] { return http.ReadyState() >= 2; }, 10000));
        http.Abort_();
        http.Send_();
        QTest::qWait(200);
        QVERIFY(log.outcomes().isEmpty());
        QVERIFY(!http.DownOK());
        QCOMPARE(http.ReadyState(), 0);

        // A new Open_ after a finished request sets DownOK back to false.
        QVERIFY(run(http, log, QStringLiteral("/newver.txt")));
        QVERIFY(http.DownOK());
        QVERIFY(http.Open_(QStringLiteral("GET"), server_.url(QStringLiteral("/newver.txt"))));
        QVERIFY(!http.DownOK());

        // A handler that aborts on the last state change stops the outcome.
        connect(&http, &uXMLHTTP::OnReadyStateChange, &http, [&http] {
            if (http.ReadyState() == 4)
                http.Abort_();
        });
        log.events.clear();
        http.Send_();
        QVERIFY(QTest::qWaitFor([&log] { return log.events.contains(u"ready:4:0"); }, 10000));
        QTest::qWait(100);
        QVERIFY(log.outcomes().isEmpty());
        QVERIFY(!http.DownOK());
    }
};

QM_TEST_GUILESS_MAIN(TestXmlHttp)
#include "tst_xml_http.moc"
