#include "download/response_head.h"

#include "download/body_decoder.h"
#include "tools/text_utils.h"

#include <QLocale>
#include <QTimeZone>

#include <algorithm>

namespace {

// "bytes FIRST-LAST/TOTAL"; false for anything else, "*" totals included.
// "bytes */TOTAL" (a range past the end) gives only the total.
bool ParseContentRange(const QByteArray& value, ResponseHead& head) {
    const QByteArray text = value.trimmed();
    if (!text.startsWith("bytes "))
        return false;
    const QByteArray rangeSpec = text.mid(6).trimmed();
    if (rangeSpec.startsWith("*/")) {
        bool ok = false;
        head.rangeTotal = rangeSpec.mid(2).toLongLong(&ok);
        head.rangeStart = head.rangeEnd = -1;
        return ok && head.rangeTotal >= 0;
    }
    const qsizetype dash = rangeSpec.indexOf('-');
    const qsizetype slash = rangeSpec.indexOf('/');
    if (dash <= 0 || slash <= dash)
        return false;
    bool a = false;
    bool b = false;
    bool c = false;
    head.rangeStart = rangeSpec.left(dash).toLongLong(&a);
    head.rangeEnd = rangeSpec.mid(dash + 1, slash - dash - 1).toLongLong(&b);
    head.rangeTotal = rangeSpec.mid(slash + 1).toLongLong(&c);
    return a && b && c && head.rangeStart <= head.rangeEnd && head.rangeEnd < head.rangeTotal;
}

// No validator the answer carries differs from the one kept.
bool NoValidatorDiffers(const ResponseHead& head, const PartMeta& meta) {
    return (head.etag.isEmpty() || head.etag == meta.etag) &&
           (head.lastModified.isEmpty() || head.lastModified == meta.lastModified);
}

// An answer to a request with If-Range is of the version kept.
bool SameVersion(const ResponseHead& head, const PartMeta& meta) {
    if (!NoValidatorDiffers(head, meta))
        return false;
    const QByteArray sent = meta.ifRange();
    if (sent.isEmpty())
        return false;
    return sent == meta.etag ? head.etag == sent : head.lastModified == sent;
}

} // namespace

ResponseHead ParseResponseHead(const RawResponseHead& raw, const QDateTime& now) {
    ResponseHead head;
    head.status = raw.status;
    head.reason = raw.reason;
    bool ok = false;
    const qint64 length = TrimSpaces(QString::fromLatin1(raw.contentLength)).toLongLong(&ok);
    head.contentLength = ok && length >= 0 ? length : -1;
    head.encoding = raw.contentEncoding.trimmed().toLower();
    head.encoded = !head.encoding.isEmpty() && head.encoding != "identity";
    head.etag = raw.etag.trimmed();
    head.lastModified = raw.lastModified.trimmed();
    head.contentType =
        TrimSpaces(TrimSpaces(QString::fromLatin1(raw.contentType)).section(u';', 0, 0));
    head.retryAfter = ParseRetryAfter(raw.retryAfter, now);
    if (!ParseContentRange(raw.contentRange, head))
        head.rangeStart = head.rangeEnd = head.rangeTotal = -1;
    return head;
}

int ParseRetryAfter(const QByteArray& value, const QDateTime& now) {
    const QByteArray text = value.trimmed();
    if (text.isEmpty())
        return -1;
    bool ok = false;
    const qint64 seconds = text.toLongLong(&ok);
    if (ok)
        return seconds >= 0 ? int(std::min<qint64>(seconds, 86400)) : -1;
    // An HTTP date: "Sun, 06 Nov 1994 08:49:37 GMT".
    QDateTime at = QLocale::c().toDateTime(QString::fromLatin1(text),
                                           QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    at.setTimeZone(QTimeZone::utc());
    if (!at.isValid())
        return -1;
    return int(std::clamp<qint64>(now.secsTo(at), 0, 86400));
}

bool RangeContinues(const ResponseHead& head, qint64 from, const PartMeta& meta) {
    if (head.encoded || head.rangeStart != from || head.rangeEnd != head.rangeTotal - 1)
        return false;
    if (meta.total >= 0 && head.rangeTotal != meta.total)
        return false;
    if (head.contentLength >= 0 && head.contentLength != head.rangeEnd - head.rangeStart + 1)
        return false;
    // Asked without If-Range: the size named before and now is all there is to go by.
    if (meta.ifRange().isEmpty())
        return meta.total >= 0 && NoValidatorDiffers(head, meta);
    return SameVersion(head, meta);
}

bool ConfirmsWholePart(const ResponseHead& head, const PartMeta& meta, qint64 size) {
    return NoValidatorDiffers(head, meta) && meta.total >= 0 && head.rangeStart < 0 &&
           head.rangeTotal == meta.total && size == meta.total;
}

QString HttpErrorText(const ResponseHead& head) {
    QString text = QStringLiteral("服务器返回错误：%1").arg(head.status);
    if (!head.reason.isEmpty())
        text += u' ' + head.reason;
    if (head.retryAfter >= 0)
        text += QStringLiteral("（%1秒后可重试）").arg(head.retryAfter);
    return text;
}

HeadDecision DecideOnHead(const ResponseHead& head, qint64 resumeFrom,
                          const std::optional<PartMeta>& kept, qint64 partSize) {
    const bool resumed = resumeFrom > 0 && kept;
    if (resumed && head.status == 416) {
        // Nothing left to send: the part is whole when it has the size the server
        // names now and announced before, of the same version.
        if (ConfirmsWholePart(head, *kept, partSize))
            return {HeadDecision::AlreadyComplete, true, kept->total};
        return {HeadDecision::StaleRange, false, -1};
    }
    if (head.status < 200 || head.status >= 300)
        return {HeadDecision::HttpError, false, -1};
    if (head.encoded && !BodyDecoder::Supports(head.encoding))
        return {HeadDecision::UnknownEncoding, false, -1};
    if (head.status == 206) {
        // Bytes of another version or another place are never appended.
        if (!resumed || !RangeContinues(head, resumeFrom, *kept))
            return {HeadDecision::RangeMismatch, false, -1};
        return {HeadDecision::Body, true, head.rangeTotal};
    }
    return {HeadDecision::Body, false, head.encoded ? -1 : head.contentLength};
}
