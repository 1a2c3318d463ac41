#include "fixture_server.h"
#include "http/status_texts.h"
#include "http/xml_http.h"
#include "test_main.h"
#include "tls_server.h"

#include <QFile>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTemporaryDir>

namespace {

// Every event of one component, in order: "ready:STATE:DOWNOK", "arrived", "err:TEXT".
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
    // The outcome events only.
    QStringList outcomes() const {
        QStringList out;
        for (const QString& e : events) {
            if (!e.startsWith(u"ready:"))
                out << e;
        }
        return out;
    }
    bool finished() const { return !outcomes().isEmpty(); }
    QStringList events;
};

FixtureServer::Response Body(const QByteArray& body, int status = 200,
                             const QByteArray& type = "text/plain") {
    FixtureServer::Response r;
    r.status = status;
    r.body = body;
    r.contentType = type;
    return r;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestXmlHttp : public QObject {
    Q_OBJECT

    FixtureServer server_;
    QTemporaryDir dir_;

    // Runs one request to its outcome event.
    bool run(uXMLHTTP& http, EventLog& log, const QString& method, const QString& path,
             const QString& saveFile = {}, const QString& body = {}) {
        if (!http.Open_(method, path.startsWith(u"http") ? path : server_.url(path), saveFile))
            return false;
        http.Send_(body);
        return QTest::qWaitFor([&log] { return log.finished(); }, 10000);
    }

private slots:
    void initTestCase() {
        QVERIFY(server_.start());
        server_.route(QStringLiteral("/newver.txt"), [](const FixtureServer::Request&) {
            FixtureServer::Response r = Body("3.2.16");
            r.headers.append(qMakePair(QByteArray("X-Version-Server"), QByteArray("fixture")));
            return r;
        });
        server_.redirect(QStringLiteral("/moved.txt"), QStringLiteral("/newver.txt"));
        server_.route(QStringLiteral("/echo"), [](const FixtureServer::Request& request) {
            return Body(request.method + ' ' + request.headers.value("x-asked") + ' ' +
                        request.body);
        });
        server_.route(QStringLiteral("/binary"), [](const FixtureServer::Request&) {
            return Body(QByteArray("%PDF\0\x01\xff tail", 11), 200, "application/pdf");
        });
        server_.route(QStringLiteral("/empty"),
                      [](const FixtureServer::Request&) { return Body(QByteArray()); });
        // The connection ends after a quarter of the announced body: closed, or reset.
        for (const bool reset : {false, true}) {
            server_.route(reset ? QStringLiteral("/reset") : QStringLiteral("/cut"),
                          [reset](const FixtureServer::Request&) {
                              FixtureServer::Response r = Body(QByteArray(4000, 'x'));
                              r.cutAfter = 1000;
                              r.resetAtCut = reset;
                              return r;
                          });
        }
        server_.route(QStringLiteral("/stall"), [](const FixtureServer::Request&) {
            FixtureServer::Response r = Body(QByteArray(4000, 'x'));
            r.stallAfter = 100;
            return r;
        });
        server_.route(QStringLiteral("/status"), [](const FixtureServer::Request& request) {
            return Body("status page", request.query.toInt());
        });
        server_.route(QStringLiteral("/gbk"), [](const FixtureServer::Request&) {
            QStringEncoder gbk("GBK");
            return Body(gbk.encode(QStringLiteral("最新版本")), 200, "text/plain; charset=GBK");
        });
        server_.route(QStringLiteral("/bom"), [](const FixtureServer::Request&) {
            return Body("\xef\xbb\xbf" + QStringLiteral("版本").toUtf8(), 200, "text/plain");
        });
    }

    void successRaisesReadyStateChangesThenOnDateArrived() {
        uXMLHTTP http;
        EventLog log(http);
        QVERIFY(!http.DownOK());
        QCOMPARE(http.ReadyState(), 0);
        // The method is sent upper-cased; the redirect is followed.
        QVERIFY(http.Open_(QStringLiteral("get"), server_.url(QStringLiteral("/moved.txt"))));
        QCOMPARE(http.ReadyState(), 1);
        QVERIFY(!http.DownOK());
        http.Send_();
        QVERIFY(QTest::qWaitFor([&log] { return log.finished(); }, 10000));
        QCOMPARE(log.outcomes(), QStringList{QStringLiteral("arrived")});
        // Ready-state changes come first, the last one with the request finished
        // but DownOK not yet set; the outcome comes after all of them.
        QVERIFY(log.events.size() >= 2);
        QCOMPARE(log.events.at(log.events.size() - 2), QStringLiteral("ready:4:0"));
        QCOMPARE(log.events.last(), QStringLiteral("arrived"));
        QCOMPARE(log.events.count(QStringLiteral("arrived")), 1);

        QVERIFY(http.DownOK());
        QCOMPARE(http.ReadyState(), 4);
        QCOMPARE(http.Status(), 200);
        QCOMPARE(http.StatusText(), QStringLiteral("OK"));
        QCOMPARE(http.ResponseText(), QStringLiteral("3.2.16"));
        QCOMPARE(http.ResponseBody(), QByteArray("3.2.16"));
        QCOMPARE(http.GetResponseHeader(QStringLiteral("x-version-server")),
                 QStringLiteral("fixture"));
        QCOMPARE(http.GetResponseHeader(QStringLiteral("X-Missing")), QString());
        QVERIFY(
            http.GetAllResponseHeaders().contains(QStringLiteral("X-Version-Server: fixture\r\n")));
        QVERIFY(http.GetAllResponseHeaders().endsWith(QStringLiteral("\r\n")));
        QVERIFY(server_.log.contains(QStringLiteral("GET /moved.txt")));
        QVERIFY(server_.log.contains(QStringLiteral("GET /newver.txt")));

        // The events arrive once: nothing more follows later.
        const QStringList seen = log.events;
        QTest::qWait(100);
        QCOMPARE(log.events, seen);

        // The next request through the same component starts from a clean state.
        log.events.clear();
        QVERIFY(http.Open_(QStringLiteral("post"), server_.url(QStringLiteral("/echo"))));
        QVERIFY(!http.DownOK());
        QCOMPARE(http.Status(), 0);
        QCOMPARE(http.ResponseBody(), QByteArray());
        http.SetRequestHeader(QStringLiteral("X-Asked"), QStringLiteral("yes"));
        http.Send_(QStringLiteral("a=1&b=中"));
        QVERIFY(QTest::qWaitFor([&log] { return log.finished(); }, 10000));
        QCOMPARE(log.outcomes(), QStringList{QStringLiteral("arrived")});
        QCOMPARE(http.ResponseText(), QStringLiteral("POST yes a=1&b=中"));
    }

    void savedBodyReplacesTheFileWholeAndOnlyOnSuccess() {
        const QString target = dir_.filePath(QStringLiteral("saved.bin"));
        {
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("an older and longer file than the new one");
        }
        uXMLHTTP http;
        EventLog log(http);
        QVERIFY(run(http, log, QStringLiteral("GET"), QStringLiteral("/binary"), target));
        QCOMPARE(log.outcomes(), QStringList{QStringLiteral("arrived")});
        QCOMPARE(ReadAll(target), QByteArray("%PDF\0\x01\xff tail", 11));
        QCOMPARE(http.SaveError(), QString());
        // No temporary file is left beside it.
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files),
                 QStringList{QStringLiteral("saved.bin")});

        // An empty body writes nothing: the file stays as it was.
        log.events.clear();
        QVERIFY(run(http, log, QStringLiteral("GET"), QStringLiteral("/empty"), target));
        QCOMPARE(log.outcomes(), QStringList{QStringLiteral("arrived")});
        QCOMPARE(ReadAll(target), QByteArray("%PDF\0\x01\xff tail", 11));

        // Neither does a failure status, nor a body cut off by the server.
        for (const QString& path :
             {QStringLiteral("/status?404"), QStringLiteral("/reset"), QStringLiteral("/cut")}) {
            log.events.clear();
            QVERIFY2(run(http, log, QStringLiteral("GET"), path, target), qPrintable(path));
            QCOMPARE(log.outcomes().size(), 1);
            QVERIFY2(log.outcomes().first().startsWith(u"err:"), qPrintable(path));
            QCOMPARE(ReadAll(target), QByteArray("%PDF\0\x01\xff tail", 11));
            QVERIFY(http.DownOK());
        }
        // A cut body is a transport failure: no description, and nothing to read.
        QCOMPARE(log.outcomes(), QStringList{QStringLiteral("err:")});
        QCOMPARE(http.ResponseBody(), QByteArray());

        // A file that cannot be written does not hide the response, but says why.
        log.events.clear();
        const QString nowhere = dir_.filePath(QStringLiteral("no/such/folder/file.bin"));
        QVERIFY(run(http, log, QStringLiteral("GET"), QStringLiteral("/binary"), nowhere));
        QCOMPARE(log.outcomes(), QStringList{QStringLiteral("arrived")});
        QVERIFY(!QFile::exists(nowhere));
        QVERIFY(!http.SaveError().isEmpty());
        QCOMPARE(http.ResponseBody().size(), 11);
    }

    void failuresRaiseOnDateErrWithTheStatusDescription() {
        QCOMPARE(int(StatusDescriptionTable().size()), 601);
        QCOMPARE(StatusDescription(600), QString());
        QCOMPARE(StatusDescription(601), QString());
        QCOMPARE(StatusDescription(-1), QString());
        QCOMPARE(StatusDescription(505),
                 QStringLiteral("服务器不支持或拒绝支请求头中指定的HTTP版本"));

        // A port nobody listens on: a finished request without any status.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString refused = QStringLiteral("http://127.0.0.1:%1/x").arg(closed.serverPort());
        closed.close();
        TlsFixtureServer tls;
        QVERIFY(tls.start());

        const QList<std::tuple<QString, int, QString>> cases = {
            {QStringLiteral("/status?404"), 404, QStringLiteral("没有发现文件?查询或URl")},
            {QStringLiteral("/status?500"), 500, QStringLiteral("服务器产生内部错误")},
            {QStringLiteral("/status?201"), 201, QStringLiteral("提示知道新文件的URL")},
            {QStringLiteral("/status?418"), 418, QString()}, // in range, not in the table
            {QStringLiteral("/status?299"), 299, QString()},
            {refused, 0, QString()},
            // A certificate nobody vouches for is never accepted.
            {tls.url(QStringLiteral("/newver.txt")), 0, QString()},
        };
        for (const auto& [path, status, text] : cases) {
            uXMLHTTP http;
            EventLog log(http);
            QVERIFY2(run(http, log, QStringLiteral("GET"), path), qPrintable(path));
            QCOMPARE(log.outcomes(), QStringList{QStringLiteral("err:") + text});
            QVERIFY2(log.events.first().startsWith(u"ready:"), qPrintable(path));
            QCOMPARE(http.Status(), status);
            QVERIFY(http.DownOK());
            QCOMPARE(http.ReadyState(), 4);
        }
        QCOMPARE(tls.requests, 0);
    }

    void abortAndReuseRaiseNoStrayEvents() {
        uXMLHTTP http;
        EventLog log(http);
        // Send_ before any Open_ starts nothing.
        const qsizetype served = server_.log.size();
        http.Send_();
        QTest::qWait(150);
        QVERIFY(log.events.isEmpty());
        QCOMPARE(server_.log.size(), served);

        // Addresses and methods that cannot be opened are refused at Open_.
        for (const auto& [method, url] : QList<QPair<QString, QString>>{
                 {QStringLiteral("GET"), QStringLiteral("not an address")},
                 {QStringLiteral("GET"), QStringLiteral("ftp://127.0.0.1/file")},
                 {QStringLiteral("GET"), QStringLiteral("/relative/path")},
                 {QStringLiteral("GE T"), server_.url(QStringLiteral("/newver.txt"))},
                 {QString(), server_.url(QStringLiteral("/newver.txt"))}}) {
            QVERIFY2(!http.Open_(method, url), qPrintable(method + u' ' + url));
            http.Send_();
        }
        QTest::qWait(150);
        QVERIFY(log.events.isEmpty());
        QCOMPARE(server_.log.size(), served);

        // Abort_ while the body stalls: no event, DownOK keeps false.
        QVERIFY(http.Open_(QStringLiteral("GET"), server_.url(QStringLiteral("/stall"))));
        http.Send_();
        QVERIFY(QTest::qWaitFor([&http] { return http.ReadyState() >= 2; }, 10000));
        const QStringList beforeAbort = log.events;
        http.Abort_();
        QTest::qWait(200);
        QCOMPARE(log.events, beforeAbort);
        QVERIFY(!log.finished());
        QVERIFY(!http.DownOK());
        QCOMPARE(http.ReadyState(), 0);
        // ... and Send_ after it sends nothing until the next Open_.
        http.Send_();
        QTest::qWait(100);
        QCOMPARE(log.events, beforeAbort);

        // A finished request, then a new Open_: DownOK is false again.
        QVERIFY(run(http, log, QStringLiteral("GET"), QStringLiteral("/newver.txt")));
        QVERIFY(http.DownOK());
        QVERIFY(http.Open_(QStringLiteral("GET"), server_.url(QStringLiteral("/newver.txt"))));
        QVERIFY(!http.DownOK());

        // A handler that aborts on a state change stops the outcome event.
        uXMLHTTP stopped;
        EventLog stoppedLog(stopped);
        connect(&stopped, &uXMLHTTP::OnReadyStateChange, &stopped, [&stopped] {
            if (stopped.ReadyState() == 4)
                stopped.Abort_();
        });
        QVERIFY(stopped.Open_(QStringLiteral("GET"), server_.url(QStringLiteral("/newver.txt"))));
        stopped.Send_();
        QVERIFY(QTest::qWaitFor([&stopped] { return stopped.ReadyState() == 0; }, 10000));
        QTest::qWait(100);
        QVERIFY(!stoppedLog.finished());
        QVERIFY(!stopped.DownOK());

        // Destroying the component mid-request is quiet.
        auto* gone = new uXMLHTTP;
        EventLog goneLog(*gone);
        QVERIFY(gone->Open_(QStringLiteral("GET"), server_.url(QStringLiteral("/stall"))));
        gone->Send_();
        QVERIFY(QTest::qWaitFor([gone] { return gone->ReadyState() >= 2; }, 10000));
        delete gone;
        QTest::qWait(100);
    }

    void textDecodingAndBodyLimit() {
        uXMLHTTP http;
        EventLog log(http);
        QVERIFY(run(http, log, QStringLiteral("GET"), QStringLiteral("/gbk")));
        QCOMPARE(http.ResponseText(), QStringLiteral("最新版本"));
        log.events.clear();
        QVERIFY(run(http, log, QStringLiteral("GET"), QStringLiteral("/bom")));
        QCOMPARE(http.ResponseText(), QStringLiteral("版本"));

        // A body over the limit is a failure, whatever its status.
        log.events.clear();
        http.setMaximumBodySize(1000);
        QVERIFY(run(http, log, QStringLiteral("GET"), QStringLiteral("/binary")));
        QCOMPARE(log.outcomes(), QStringList{QStringLiteral("arrived")});
        log.events.clear();
        server_.route(QStringLiteral("/big"),
                      [](const FixtureServer::Request&) { return Body(QByteArray(200000, 'v')); });
        QVERIFY(run(http, log, QStringLiteral("GET"), QStringLiteral("/big")));
        QCOMPARE(log.outcomes(), QStringList{QStringLiteral("err:")});
        QCOMPARE(http.ResponseBody(), QByteArray());
        QVERIFY(http.DownOK());
    }
};

QM_TEST_GUILESS_MAIN(TestXmlHttp)
#include "tst_xml_http.moc"
