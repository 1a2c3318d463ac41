#include "download/response_head.h"

#include "download/transfer_core.h"
#include "tools/text_utils.h"

#include <QDateTime>
#include <QNetworkReply>

namespace {

// "bytes FIRST-LAST/TOTAL"; false for anything else, "*" totals included.
// "bytes */TOTAL" (a range past the end) gives only the total.
bool ParseContentRange(const QByteArray& value, Head& head) {
    const QByteArray text = value.trimmed();
    if (!text.startsWith("bytes "))
        return false;
    const QByteArray spec = text.mid(6).trimmed();
    if (spec.startsWith("*/")) {
        bool ok = false;
        head.rangeTotal = spec.mid(2).toLongLong(&ok);
        head.rangeStart = head.rangeEnd = -1;
        return ok && head.rangeTotal >= 0;
    }
    const qsizetype dash = spec.indexOf('-');
    const qsizetype slash = spec.indexOf('/');
    if (dash <= 0 || slash <= dash)
        return false;
    bool a = false;
    bool b = false;
    bool c = false;
    head.rangeStart = spec.left(dash).toLongLong(&a);
    head.rangeEnd = spec.mid(dash + 1, slash - dash - 1).toLongLong(&b);
    head.rangeTotal = spec.mid(slash + 1).toLongLong(&c);
    return a && b && c && head.rangeStart <= head.rangeEnd && head.rangeEnd < head.rangeTotal;
}

// No validator the answer carries differs from the one kept.
bool NoValidatorDiffers(const Head& head, const PartMeta& meta) {
    return (head.etag.isEmpty() || head.etag == meta.etag) &&
           (head.lastModified.isEmpty() || head.lastModified == meta.lastModified);
}

// An answer to a request with If-Range is of the version kept: no validator it
// carries differs from the one kept, and the one sent in If-Range comes back.
bool SameVersion(const Head& head, const PartMeta& meta) {
    if (!NoValidatorDiffers(head, meta))
        return false;
    const QByteArray sent = meta.ifRange();
    if (sent.isEmpty())
        return false;
    return sent == meta.etag ? head.etag == sent : head.lastModified == sent;
}

} // namespace

Head ReadHead(QNetworkReply* reply) {
    Head head;
    head.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    head.reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    bool ok = false;
    const qint64 length =
        TrimSpaces(QString::fromLatin1(reply->rawHeader("Content-Length"))).toLongLong(&ok);
    head.contentLength = ok && length >= 0 ? length : -1;
    head.encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    head.encoded = !head.encoding.isEmpty() && head.encoding != "identity";
    head.etag = reply->rawHeader("ETag").trimmed();
    head.lastModified = reply->rawHeader("Last-Modified").trimmed();
    head.contentType =
        TrimSpaces(TrimSpaces(reply->header(QNetworkRequest::ContentTypeHeader).toString())
                       .section(u';', 0, 0));
    head.retryAfter =
        ParseRetryAfter(reply->rawHeader("Retry-After"), QDateTime::currentDateTimeUtc());
    if (!ParseContentRange(reply->rawHeader("Content-Range"), head))
        head.rangeStart = head.rangeEnd = head.rangeTotal = -1;
    return head;
}

bool RangeContinues(const Head& head, qint64 from, const PartMeta& meta) {
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

bool ConfirmsWholePart(const Head& head, const PartMeta& meta, qint64 size) {
    return NoValidatorDiffers(head, meta) && meta.total >= 0 && head.rangeStart < 0 &&
           head.rangeTotal == meta.total && size == meta.total;
}

QString HttpErrorText(const Head& head) {
    QString text = QStringLiteral("服务器返回错误：%1").arg(head.status);
    if (!head.reason.isEmpty())
        text += u' ' + head.reason;
    if (head.retryAfter >= 0)
        text += QStringLiteral("（%1秒后可重试）").arg(head.retryAfter);
    return text;
}
