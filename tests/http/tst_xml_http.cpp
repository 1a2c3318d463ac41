#include "fixture_server.h"
#include "http/status_texts.h"
#include "http/xml_http.h"
#include "test_main.h"
#include "tls_server.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
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
        server_.route(QStringLiteral("/headers-only"),
                      Answer(QByteArray(4000, 'x'), 200, "text/plain", -1, 0));
        server_.route(QStringLiteral("/big"), Answer(QByteArray(256 * 1024, 'x')));
        server_.route(QStringLiteral("/big404"), Answer(QByteArray(256 * 1024, 'x'), 404));
        server_.route(QStringLiteral("/late"), [](const FixtureServer::Request& request) {
            FixtureServer::Response r = Answer("late answer")(request);
            r.delayMs = 300;
            return r;
        });
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
        // A cut body is a transport failure: no description, no status, nothing to read.
        QCOMPARE(log.outcomes(), QStringList{QStringLiteral("err:")});
        QCOMPARE(http.Status(), 0);
        QCOMPARE(http.ResponseBody(), QByteArray());
        QCOMPARE(http.GetAllResponseHeaders(), QString());

        // A file that cannot be written does not hide the response, but says why.
        const QString nowhere = dir_.filePath(QStringLiteral("no/such/folder/file.bin"));
        QVERIFY(run(http, log, QStringLiteral("/binary"), nowhere));
        QCOMPARE(log.outcomes(), QStringList{QStringLiteral("arrived")});
        QVERIFY(!http.SaveError().isEmpty());
        QCOMPARE(http.ResponseBody(), Binary);

        // A body over the limit is dropped and said so; the status stands.
        http.setMaximumBodySize(5);
        for (const QString& path : {QStringLiteral("/newver.txt"), QStringLiteral("/big")}) {
            QVERIFY2(run(http, log, path, target), qPrintable(path));
            QCOMPARE(log.outcomes(), QStringList{QStringLiteral("arrived")});
            QVERIFY(http.BodyTooLarge());
            QCOMPARE(http.Status(), 200);
            QCOMPARE(http.ResponseBody(), QByteArray());
            QVERIFY(!http.SaveError().isEmpty());
            QCOMPARE(ReadAll(target), Binary);
        }
        QVERIFY(run(http, log, QStringLiteral("/big404"), target));
        QCOMPARE(log.outcomes(), QStringList{QStringLiteral("err:没有发现文件?查询或URl")});
        QVERIFY(http.BodyTooLarge());
        // Within the limit again: nothing left of the flag.
        http.setMaximumBodySize(100);
        QVERIFY(run(http, log, QStringLiteral("/newver.txt"), target));
        QVERIFY(!http.BodyTooLarge());
        QCOMPARE(ReadAll(target), QByteArray("3.2.16"));
    }

    void failuresRaiseOnDateErrWithTheStatusDescription() {
        QTcpServer closed; // a port nobody listens on: finished without any status
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString refused = QStringLiteral("http://127.0.0.1:%1/x").arg(closed.serverPort());
        closed.close();
        TlsFixtureServer tls;
        QVERIFY(tls.start());
        const QList<std::tuple<QString, int, QString>> cases = {
            {QStringLiteral("/status?404"), 404, QStringLiteral("没有发现文件?查询或URl")},
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

    void statusDescriptions_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::newRow("100") << 100 << QStringLiteral("客户必须继续发出请求");
        QTest::newRow("101") << 101 << QStringLiteral("客户要求服务器根据请求转换HTTP协议版本");
        QTest::newRow("200") << 200 << QStringLiteral("交易成功");
        QTest::newRow("201") << 201 << QStringLiteral("提示知道新文件的URL");
        QTest::newRow("202") << 202 << QStringLiteral("接受和处理?但处理未完成");
        QTest::newRow("203") << 203 << QStringLiteral("返回信息不确定或不完整");
        QTest::newRow("204") << 204 << QStringLiteral("请求收到，但返回信息为空");
        QTest::newRow("205") << 205
                             << QStringLiteral(
                                    "服务器完成了请求，用户代理必须复位当前已经浏览过的文件");
        QTest::newRow("206") << 206 << QStringLiteral("服务器已经完成了部分用户的GET请求");
        QTest::newRow("300") << 300 << QStringLiteral("请求的资源可在多处得到");
        QTest::newRow("301") << 301 << QStringLiteral("删除请求数据");
        QTest::newRow("302") << 302 << QStringLiteral("在其他地址发现了请求数据");
        QTest::newRow("303") << 303 << QStringLiteral("建议客户访问其他URL或访问方式");
        QTest::newRow("304") << 304 << QStringLiteral("客户端已经执行了GET，但文件未变化");
        QTest::newRow("305") << 305 << QStringLiteral("请求的资源必须从服务器指定的地址得到");
        QTest::newRow("306") << 306
                             << QStringLiteral("前一版本HTTP中使用的代码，现行版本中不再使用");
        QTest::newRow("307") << 307 << QStringLiteral("申明请求的资源临时性删除");
        QTest::newRow("400") << 400 << QStringLiteral("错误请求，如语法错误");
        QTest::newRow("401") << 401 << QStringLiteral("请求授权失败");
        QTest::newRow("402") << 402 << QStringLiteral("保留有效ChargeTo头响应");
        QTest::newRow("403") << 403 << QStringLiteral("请求不允许");
        QTest::newRow("404") << 404 << QStringLiteral("没有发现文件?查询或URl");
        QTest::newRow("405") << 405 << QStringLiteral("用户在Request -Line字段定义的方法不允许");
        QTest::newRow("406") << 406 << QStringLiteral("根据用户发送的Accept拖，请求资源不可访问");
        QTest::newRow("407") << 407
                             << QStringLiteral("类似401，用户必须首先在代理服务器上得到授权");
        QTest::newRow("408") << 408 << QStringLiteral("客户端没有在用户指定的饿时间内完成请求");
        QTest::newRow("409") << 409 << QStringLiteral("对当前资源状态，请求不能完成");
        QTest::newRow("410") << 410 << QStringLiteral("服务器上不再有此资源且无进一步的参考地址");
        QTest::newRow("411") << 411
                             << QStringLiteral("服务器拒绝用户定义的Content -Length属性请求");
        QTest::newRow("412") << 412 << QStringLiteral("一个或多个请求头字段在当前请求中错误");
        QTest::newRow("413") << 413 << QStringLiteral("请求的资源大于服务器允许的大小");
        QTest::newRow("414") << 414 << QStringLiteral("请求的资源URL长于服务器允许的长度");
        QTest::newRow("415") << 415 << QStringLiteral("请求资源不支持请求项目格式");
        QTest::newRow("416") << 416
                             << QStringLiteral("请求中包含Range请求头字段，在当前请求资源范围内没有"
                                               "range指示值，请求也不包含If-Range请求头字段");
        QTest::newRow("417") << 417
                             << QStringLiteral("服务器不满足请求Expect头字段指定的期望值，如果是代"
                                               "理服务器，可能是下一级服务器不能满足请求");
        QTest::newRow("500") << 500 << QStringLiteral("服务器产生内部错误");
        QTest::newRow("501") << 501 << QStringLiteral("服务器不支持请求的函数");
        QTest::newRow("502") << 502
                             << QStringLiteral("服务器暂时不可用，有时是为了防止发生系统过载");
        QTest::newRow("503") << 503 << QStringLiteral("服务器过载或暂停维修");
        QTest::newRow("504")
            << 504
            << QStringLiteral("关口过载，服务器使用另一个关口或服务来响应用户，等待时间设定值较长");
        QTest::newRow("505") << 505 << QStringLiteral("服务器不支持或拒绝支请求头中指定的HTTP版本");
        // Codes in range the table does not list, and codes outside it.
        for (int code : {-1, 0, 102, 199, 207, 299, 308, 399, 418, 499, 506, 599, 600, 601, 1000})
            QTest::newRow(qPrintable(QStringLiteral("unlisted %1").arg(code))) << code << QString();
    }

    void statusDescriptions() {
        QFETCH(int, status);
        QFETCH(QString, text);
        QCOMPARE(StatusDescription(status), text);
        // The table holds these texts and nothing else.
        const auto& table = StatusDescriptionTable();
        QCOMPARE(std::count_if(table.begin(), table.end(),
                               [](const QString& t) { return !t.isEmpty(); }),
                 41);
    }

    void aRefusedOpenLeavesTheRunningRequestAlone() {
        uXMLHTTP http;
        EventLog log(http);
        QVERIFY(http.Open_(QStringLiteral("GET"), server_.url(QStringLiteral("/late"))));
        http.Send_();
        QVERIFY(!http.Open_(QStringLiteral("GE T"), server_.url(QStringLiteral("/newver.txt"))));
        QVERIFY(!http.Open_(QStringLiteral("GET"), QStringLiteral("ftp://127.0.0.1/file")));
        QVERIFY(QTest::qWaitFor([&log] { return !log.outcomes().isEmpty(); }, 10000));
        QCOMPARE(log.outcomes(), QStringList{QStringLiteral("arrived")});
        QCOMPARE(http.ResponseText(), QStringLiteral("late answer"));

        // A prepared request keeps its address and save file too.
        const QString target = dir_.filePath(QStringLiteral("kept.txt"));
        log.events.clear();
        QVERIFY(
            http.Open_(QStringLiteral("GET"), server_.url(QStringLiteral("/newver.txt")), target));
        QVERIFY(!http.Open_(QStringLiteral("GET"), QStringLiteral("not an address")));
        http.Send_();
        QVERIFY(QTest::qWaitFor([&log] { return !log.outcomes().isEmpty(); }, 10000));
        QCOMPARE(ReadAll(target), QByteArray("3.2.16"));
    }

    // The owner may delete the component in any of its events, whatever the
    // network is doing at that moment.
    void deletedInItsOwnEvents_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("event");
        QTest::addColumn<int>("state"); // for "ready": the ReadyState to delete at
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<bool>("sharedManager");
        const QString ready = QStringLiteral("ready");
        QTest::newRow("ready 1") << QStringLiteral("/stall") << ready << 1 << qint64(0) << false;
        QTest::newRow("ready 2") << QStringLiteral("/headers-only") << ready << 2 << qint64(0)
                                 << false;
        QTest::newRow("ready 3") << QStringLiteral("/stall") << ready << 3 << qint64(0) << false;
        QTest::newRow("ready 4") << QStringLiteral("/newver.txt") << ready << 4 << qint64(0)
                                 << false;
        QTest::newRow("ready 3, shared manager")
            << QStringLiteral("/stall") << ready << 3 << qint64(0) << true;
        QTest::newRow("arrived") << QStringLiteral("/newver.txt") << QStringLiteral("arrived") << 0
                                 << qint64(0) << false;
        QTest::newRow("arrived, shared manager")
            << QStringLiteral("/newver.txt") << QStringLiteral("arrived") << 0 << qint64(0) << true;
        QTest::newRow("error") << QStringLiteral("/status?404") << QStringLiteral("err") << 0
                               << qint64(0) << false;
        QTest::newRow("arrived over the body limit")
            << QStringLiteral("/big") << QStringLiteral("arrived") << 0 << qint64(1000) << false;
        QTest::newRow("error over the body limit")
            << QStringLiteral("/big404") << QStringLiteral("err") << 0 << qint64(1000) << false;
        QTest::newRow("ready 4 over the body limit")
            << QStringLiteral("/big404") << ready << 4 << qint64(1000) << false;
    }

    void deletedInItsOwnEvents() {
        QFETCH(QString, path);
        QFETCH(QString, event);
        QFETCH(int, state);
        QFETCH(qint64, limit);
        QFETCH(bool, sharedManager);
        QNetworkAccessManager shared;
        QPointer<uXMLHTTP> http = sharedManager ? new uXMLHTTP(&shared) : new uXMLHTTP;
        http->setMaximumBodySize(limit);
        QStringList seen;
        const auto maybeDelete = [&](const QString& what) {
            seen << what;
            if (what == event && (what != u"ready" || http->ReadyState() == state))
                delete http.data();
        };
        connect(http, &uXMLHTTP::OnReadyStateChange, http,
                [&] { maybeDelete(QStringLiteral("ready")); });
        connect(http, &uXMLHTTP::OnDateArrived, http,
                [&] { maybeDelete(QStringLiteral("arrived")); });
        connect(http, &uXMLHTTP::OnDateErr, http, [&] { maybeDelete(QStringLiteral("err")); });
        QVERIFY(http->Open_(QStringLiteral("GET"), server_.url(path)));
        http->Send_();
        QTRY_VERIFY2_WITH_TIMEOUT(http.isNull(), qPrintable(seen.join(u' ')), 10000);
        // Whatever was running is gone once the event loop has been round.
        QTRY_VERIFY(shared.findChildren<QNetworkReply*>().isEmpty());
        QTRY_VERIFY(QCoreApplication::instance()->findChildren<QNetworkAccessManager*>().isEmpty());
        QTest::qWait(100);
    }
};

QM_TEST_GUILESS_MAIN(TestXmlHttp)
#include "tst_xml_http.moc"
