// Response headers as any server may send them, through the transfer's pure
// decisions: what the head says (length, encoding, validators, Content-Range,
// Retry-After) and whether the body is taken, continued, refused or started over.
// An encoded body then goes through the decoder in pieces of any size.
#include "download/body_decoder.h"
#include "download/response_head.h"
#include "fuzz_support.h"

#include <QTimeZone>

namespace {

RawResponseHead TakeHead(FuzzedDataProvider& in) {
    RawResponseHead raw;
    raw.status = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(100, 599)
                                  : in.PickValueInArray({200, 206, 416, 304, 0});
    raw.reason = TakeText(in, 40);
    raw.contentLength = TakeBytes(in, 30);
    raw.contentEncoding =
        in.ConsumeBool()
            ? QByteArray(in.PickValueInArray({"gzip", " X-Gzip ", "deflate", "identity", "br", ""}))
            : TakeBytes(in, 20);
    raw.etag = TakeBytes(in, 20);
    raw.lastModified = TakeBytes(in, 40);
    raw.contentType = TakeBytes(in, 60);
    raw.retryAfter = TakeBytes(in, 40);
    raw.contentRange = TakeBytes(in, 60);
    return raw;
}

void CheckHead(const RawResponseHead& raw, const ResponseHead& head) {
    FUZZ_CHECK(head.status == raw.status);
    FUZZ_CHECK(head.contentLength >= -1);
    FUZZ_CHECK(head.retryAfter >= -1 && head.retryAfter <= 86400);
    FUZZ_CHECK(head.encoded == (!head.encoding.isEmpty() && head.encoding != "identity"));
    FUZZ_CHECK(!head.contentType.contains(u';'));
    // No range, a total alone ("bytes */N" of a 416), or a whole valid range.
    const bool noPlace = head.rangeStart == -1 && head.rangeEnd == -1 && head.rangeTotal >= -1;
    FUZZ_CHECK(noPlace || (head.rangeStart >= 0 && head.rangeStart <= head.rangeEnd &&
                           head.rangeEnd < head.rangeTotal));
}

void CheckDecision(const ResponseHead& head, qint64 resumeFrom, const std::optional<PartMeta>& kept,
                   qint64 partSize, const HeadDecision& d) {
    const bool success = head.status >= 200 && head.status < 300;
    switch (d.verdict) {
    case HeadDecision::Body:
        FUZZ_CHECK(success);
        FUZZ_CHECK(!head.encoded || BodyDecoder::Supports(head.encoding));
        if (d.resuming) {
            // Appended bytes continue the part exactly, of the same version and length.
            FUZZ_CHECK(head.status == 206 && resumeFrom > 0 && kept);
            FUZZ_CHECK(!head.encoded && head.rangeStart == resumeFrom);
            FUZZ_CHECK(d.total == head.rangeTotal && head.rangeEnd == d.total - 1);
            FUZZ_CHECK(kept->total < 0 || kept->total == d.total);
            FUZZ_CHECK(head.contentLength < 0 || head.contentLength == d.total - resumeFrom);
            // No validator differs from the kept one; the one sent in If-Range came
            // back, and without one the recorded total vouches for the place.
            FUZZ_CHECK(head.etag.isEmpty() || head.etag == kept->etag);
            FUZZ_CHECK(head.lastModified.isEmpty() || head.lastModified == kept->lastModified);
            const QByteArray sent = kept->ifRange();
            if (sent.isEmpty())
                FUZZ_CHECK(kept->total >= 0 && kept->total == d.total);
            else if (sent == kept->etag)
                FUZZ_CHECK(head.etag == sent);
            else
                FUZZ_CHECK(head.lastModified == sent);
        } else {
            FUZZ_CHECK(head.status != 206);
            FUZZ_CHECK(d.total == (head.encoded ? -1 : head.contentLength));
        }
        break;
    case HeadDecision::AlreadyComplete:
        FUZZ_CHECK(head.status == 416 && resumeFrom > 0 && kept && partSize == kept->total);
        FUZZ_CHECK(d.resuming && d.total == partSize);
        // Only the same version, of the length kept, is whole already.
        FUZZ_CHECK(kept->total >= 0 && head.rangeStart < 0 && head.rangeTotal == kept->total);
        FUZZ_CHECK(head.etag.isEmpty() || head.etag == kept->etag);
        FUZZ_CHECK(head.lastModified.isEmpty() || head.lastModified == kept->lastModified);
        break;
    case HeadDecision::StaleRange:
        FUZZ_CHECK(head.status == 416 && resumeFrom > 0);
        break;
    case HeadDecision::HttpError:
        FUZZ_CHECK(!success);
        break;
    case HeadDecision::UnknownEncoding:
        FUZZ_CHECK(success && head.encoded && !BodyDecoder::Supports(head.encoding));
        break;
    case HeadDecision::RangeMismatch:
        FUZZ_CHECK(head.status == 206);
        break;
    }
    FUZZ_CHECK(d.verdict == HeadDecision::Body || d.verdict == HeadDecision::AlreadyComplete ||
               (!d.resuming && d.total == -1));
}

struct Decoded {
    QByteArray bytes;
    bool accepted = true;
    bool complete = false;
    bool corrupt = false;
};

Decoded Decode(const QByteArray& encoding, const QByteArray& body, const std::vector<int>& cuts) {
    BodyDecoder decoder(encoding);
    Decoded out;
    const auto sink = [&out](const char* data, qint64 n) {
        out.bytes.append(data, n);
        return true;
    };
    qsizetype at = 0;
    for (int cut : cuts) {
        const qsizetype n = std::min<qsizetype>(cut, body.size() - at);
        out.accepted = decoder.feed(body.constData() + at, n, sink) && out.accepted;
        at += n;
        if (!out.accepted)
            break;
    }
    if (out.accepted && at < body.size())
        out.accepted = decoder.feed(body.constData() + at, body.size() - at, sink);
    out.complete = decoder.complete();
    out.corrupt = decoder.corrupt();
    return out;
}

// However the network cuts the body into reads, the decoder makes the same of it.
void CheckDecoder(const QByteArray& encoding, FuzzedDataProvider& in) {
    std::vector<int> cuts;
    for (int i = in.ConsumeIntegralInRange<int>(0, 8); i > 0; --i)
        cuts.push_back(in.ConsumeIntegralInRange<int>(0, 64));
    const std::vector<char> rest = in.ConsumeRemainingBytes<char>();
    const QByteArray body(rest.data(), qsizetype(rest.size()));
    const Decoded whole = Decode(encoding, body, {});
    const Decoded pieces = Decode(encoding, body, cuts);
    FUZZ_CHECK(whole.accepted == pieces.accepted);
    FUZZ_CHECK(whole.corrupt == pieces.corrupt);
    FUZZ_CHECK(whole.complete == pieces.complete);
    FUZZ_CHECK(whole.bytes == pieces.bytes);
    FUZZ_CHECK(!whole.corrupt || !whole.accepted);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const RawResponseHead raw = TakeHead(in);
    const QDateTime now = QDateTime(QDate(2024, 1, 1), QTime(0, 0), QTimeZone::utc())
                              .addSecs(in.ConsumeIntegralInRange<qint64>(-4e9, 4e9));
    const ResponseHead head = ParseResponseHead(raw, now);
    CheckHead(raw, head);

    std::optional<PartMeta> kept;
    if (in.ConsumeBool()) {
        PartMeta meta;
        meta.url = QStringLiteral("http://host/file.pdf");
        meta.etag = in.ConsumeBool() ? head.etag : TakeBytes(in, 20);
        meta.lastModified = in.ConsumeBool() ? head.lastModified : TakeBytes(in, 40);
        meta.total = in.ConsumeBool() ? head.rangeTotal : in.ConsumeIntegral<qint64>();
        kept = meta;
    }
    const qint64 resumeFrom = in.ConsumeBool() ? head.rangeStart : in.ConsumeIntegral<qint64>();
    const qint64 partSize = in.ConsumeBool() ? resumeFrom : in.ConsumeIntegral<qint64>();
    const HeadDecision decision = DecideOnHead(head, resumeFrom, kept, partSize);
    CheckDecision(head, resumeFrom, kept, partSize, decision);

    if (head.encoded && BodyDecoder::Supports(head.encoding))
        CheckDecoder(head.encoding, in);
    return 0;
}
