#include "download/response_head.h"
#include "test_main.h"

#include <QTimeZone>

// What the transfer makes of a final response's headers, for servers that answer
// oddly: lengths, encodings, Content-Range and Retry-After values that do not add up.
class TestResponseHead : public QObject {
    Q_OBJECT

    const QDateTime now_ = QDateTime(QDate(2024, 3, 1), QTime(12, 0), QTimeZone::utc());

    ResponseHead parse(int status, const QByteArray& length, const QByteArray& range,
                       const QByteArray& encoding = {}, const QByteArray& etag = {}) const {
        RawResponseHead raw;
        raw.status = status;
        raw.contentLength = length;
        raw.contentRange = range;
        raw.contentEncoding = encoding;
        raw.etag = etag;
        return ParseResponseHead(raw, now_);
    }

    static PartMeta part(qint64 total, const QByteArray& etag = "\"v1\"") {
        PartMeta meta;
        meta.url = QStringLiteral("http://127.0.0.1/a.pdf");
        meta.etag = etag;
        meta.total = total;
        return meta;
    }

private slots:
    void headerValuesThatDoNotAddUp() {
        QCOMPARE(parse(200, " 1234 ", {}).contentLength, 1234);
        QCOMPARE(parse(200, "-5", {}).contentLength, -1);
        QCOMPARE(parse(200, "12x", {}).contentLength, -1);
        QCOMPARE(parse(200, "99999999999999999999", {}).contentLength, -1);

        ResponseHead h = parse(206, {}, "bytes 10-19/20");
        QCOMPARE(h.rangeStart, 10);
        QCOMPARE(h.rangeEnd, 19);
        QCOMPARE(h.rangeTotal, 20);
        // Backwards, past the total, unknown total, other units, negative start.
        for (const QByteArray& bad :
             {QByteArray("bytes 19-10/20"), QByteArray("bytes 10-20/20"),
              QByteArray("bytes 10-19/*"), QByteArray("items 10-19/20"),
              QByteArray("bytes -10-19/20"), QByteArray("bytes */x"), QByteArray("bytes 1-/2"),
              QByteArray("bytes 0-9223372036854775807/9223372036854775807")}) {
            h = parse(206, {}, bad);
            QVERIFY2(h.rangeStart == -1 && h.rangeEnd == -1 && h.rangeTotal == -1, bad.constData());
        }
        // A range past the end names only the total.
        h = parse(416, {}, "bytes */20");
        QVERIFY(h.rangeStart == -1 && h.rangeEnd == -1);
        QCOMPARE(h.rangeTotal, 20);

        h = parse(200, "10", {}, " GZip ");
        QCOMPARE(h.encoding, QByteArray("gzip"));
        QVERIFY(h.encoded);
        QVERIFY(!parse(200, "10", {}, "identity").encoded);

        QCOMPARE(ParseRetryAfter("120", now_), 120);
        QCOMPARE(ParseRetryAfter("-1", now_), -1);
        QCOMPARE(ParseRetryAfter("99999999999", now_), 86400);
        QCOMPARE(ParseRetryAfter("Fri, 01 Mar 2024 12:01:00 GMT", now_), 60);
        QCOMPARE(ParseRetryAfter("Thu, 01 Feb 2024 12:00:00 GMT", now_), 0); // in the past
        QCOMPARE(ParseRetryAfter("tomorrow", now_), -1);
        QCOMPARE(ParseRetryAfter("", now_), -1);
    }

    void onlyAnExactContinuationIsAppended() {
        const std::optional<PartMeta> kept = part(20);
        // The continuation asked for.
        HeadDecision d =
            DecideOnHead(parse(206, "10", "bytes 10-19/20", {}, "\"v1\""), 10, kept, 10);
        QCOMPARE(d.verdict, HeadDecision::Body);
        QVERIFY(d.resuming);
        QCOMPARE(d.total, 20);
        // Another place, another version, another length, an encoded body, a
        // partial answer nobody asked for: never appended.
        const QList<QPair<ResponseHead, qint64>> wrong = {
            {parse(206, "10", "bytes 0-9/20", {}, "\"v1\""), 10},
            {parse(206, "10", "bytes 10-19/20", {}, "\"v2\""), 10},
            {parse(206, "10", "bytes 10-19/30", {}, "\"v1\""), 10},
            {parse(206, "5", "bytes 10-19/20", {}, "\"v1\""), 10},
            {parse(206, "10", "bytes 10-18/20", {}, "\"v1\""), 10},
            {parse(206, "10", "bytes 10-19/20", "gzip", "\"v1\""), 10},
            {parse(206, "10", "bytes 10-19/20", {}, "\"v1\""), 0},
        };
        for (const auto& [head, from] : wrong)
            QCOMPARE(DecideOnHead(head, from, kept, 10).verdict, HeadDecision::RangeMismatch);
        // A weak ETag cannot vouch for the bytes: no If-Range was sent, so only the
        // place and the total recorded before decide; a changed tag never appends.
        d = DecideOnHead(parse(206, "10", "bytes 10-19/20", {}, "W/\"v1\""), 10,
                         part(20, "W/\"v1\""), 10);
        QCOMPARE(d.verdict, HeadDecision::Body);
        QVERIFY(d.resuming);
        QCOMPARE(DecideOnHead(parse(206, "10", "bytes 10-19/20", {}, "W/\"v2\""), 10,
                              part(20, "W/\"v1\""), 10)
                     .verdict,
                 HeadDecision::RangeMismatch);
        QCOMPARE(
            DecideOnHead(parse(206, "10", "bytes 10-19/20", {}, {}), 10, part(-1, QByteArray()), 10)
                .verdict,
            HeadDecision::RangeMismatch);

        // A whole answer to a range request starts over with its own length.
        d = DecideOnHead(parse(200, "20", {}), 10, kept, 10);
        QCOMPARE(d.verdict, HeadDecision::Body);
        QVERIFY(!d.resuming);
        QCOMPARE(d.total, 20);
        // An encoded body's length says nothing about the file's.
        QCOMPARE(DecideOnHead(parse(200, "20", {}, "gzip"), 0, std::nullopt, 0).total, -1);
        QCOMPARE(DecideOnHead(parse(200, "20", {}, "br"), 0, std::nullopt, 0).verdict,
                 HeadDecision::UnknownEncoding);

        // 416: whole only when the part has the size announced before and named
        // now, of the same version.
        d = DecideOnHead(parse(416, {}, "bytes */20"), 20, kept, 20);
        QCOMPARE(d.verdict, HeadDecision::AlreadyComplete);
        QCOMPARE(d.total, 20);
        for (const ResponseHead& other : {parse(416, {}, {}), parse(416, {}, "bytes */30"),
                                          parse(416, {}, "bytes */20", {}, "\"v2\"")})
            QCOMPARE(DecideOnHead(other, 20, kept, 20).verdict, HeadDecision::StaleRange);
        QCOMPARE(DecideOnHead(parse(416, {}, {}), 15, kept, 15).verdict, HeadDecision::StaleRange);
        QCOMPARE(DecideOnHead(parse(416, {}, {}), 10, part(-1), 10).verdict,
                 HeadDecision::StaleRange);
        QCOMPARE(DecideOnHead(parse(416, {}, {}), 0, std::nullopt, 0).verdict,
                 HeadDecision::HttpError);
        for (int status : {0, 199, 204 + 100, 404, 500})
            QCOMPARE(DecideOnHead(parse(status, "1", {}), 0, std::nullopt, 0).verdict,
                     HeadDecision::HttpError);
    }
};

QM_TEST_GUILESS_MAIN(TestResponseHead)
#include "tst_response_head.moc"
