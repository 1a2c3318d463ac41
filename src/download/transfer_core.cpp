#include "download/transfer_core.h"

#include "download/body_decoder.h"
#include "download/file_type.h"
#include "download/part_file.h"
#include "download/save_names.h"
#include "download/save_target.h"
#include "settings/settings_keys.h"
#include "tools/file_helpers.h"
#include "tools/text_utils.h"
#include "tools/time_limits.h"
#include "tools/wait.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimeZone>

#include <memory>

using std::chrono::milliseconds;

namespace {

// What the final response's headers say.
struct Head {
    int status = 0;
    QString reason;
    qint64 contentLength = -1;
    QByteArray encoding;  // Content-Encoding, lower-cased; empty for none
    bool encoded = false; // the body is decoded on the way, so the file's length differs
    QByteArray etag;
    QByteArray lastModified;
    QString contentType;
    int retryAfter = -1;
    qint64 rangeStart = -1; // Content-Range of a partial answer
    qint64 rangeEnd = -1;
    qint64 rangeTotal = -1;
};

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The headers are those of the final answer, not of a redirect being followed
// (whose headers the network manager clears while it follows it, status aside).
// A redirect that is not followed ends the reply or brings a body of its own.
bool HasFinalHead(QNetworkReply* reply) {
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return false;
    return !IsRedirect(status.toInt()) || reply->bytesAvailable() > 0;
}

// Stops a reply that is still running; one that already failed is left to end.
void Abort(QNetworkReply* reply) {
    if (!reply->isFinished() && reply->error() == QNetworkReply::NoError)
        reply->abort();
}

// "bytes FIRST-LAST/TOTAL"; false for anything else, "*" totals included.
bool ParseContentRange(const QByteArray& value, Head& head) {
    const QByteArray text = value.trimmed();
    if (!text.startsWith("bytes "))
        return false;
    const QByteArray spec = text.mid(6).trimmed();
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

// A partial answer continues exactly the bytes kept, of the same version.
bool RangeContinues(const Head& head, qint64 from, const PartMeta& meta) {
    if (head.encoded || head.rangeStart != from || head.rangeEnd != head.rangeTotal - 1)
        return false;
    if (meta.total >= 0 && head.rangeTotal != meta.total)
        return false;
    if (head.contentLength >= 0 && head.contentLength != head.rangeEnd - head.rangeStart + 1)
        return false;
    const QByteArray sent = meta.ifRange();
    if (sent == meta.etag)
        return head.etag.isEmpty() || head.etag == sent;
    return head.lastModified.isEmpty() || head.lastModified == sent;
}

struct ReplyDeleter {
    void operator()(QNetworkReply* reply) const {
        // Deleting a running reply ends its request quietly; an abort here could
        // race with an error the reply is about to report.
        reply->disconnect();
        reply->deleteLater();
    }
};
using ReplyPtr = std::unique_ptr<QNetworkReply, ReplyDeleter>;

QString HttpErrorText(const Head& head) {
    QString text = QStringLiteral("服务器返回错误：%1").arg(head.status);
    if (!head.reason.isEmpty())
        text += u' ' + head.reason;
    if (head.retryAfter >= 0)
        text += QStringLiteral("（%1秒后可重试）").arg(head.retryAfter);
    return text;
}

} // namespace

QString NetworkErrorText(QNetworkReply::NetworkError error) {
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("服务器拒绝连接");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("服务器关闭了连接");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("找不到服务器");
    case QNetworkReply::TimeoutError:
        return QStringLiteral("连接超时");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("安全连接失败（证书无效或不受信任）");
    case QNetworkReply::TooManyRedirectsError:
        return QStringLiteral("重定向次数过多");
    case QNetworkReply::InsecureRedirectError:
        return QStringLiteral("拒绝了不安全的重定向");
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return QStringLiteral("代理服务器错误");
    default:
        return QStringLiteral("网络错误（%1）").arg(int(error));
    }
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

QCoro::Task<TransferOutcome> RunTransfer(QNetworkAccessManager& nam, TransferTicket& ticket,
                                         TransferControl& control) {
    const TransferJob& job = ticket.job;
    const QString address = job.url.toString();
    const QString metaPath = PartMetaPath(job.partPath);
    TransferOutcome out;
    out.name = job.naming.name;
    out.type = job.naming.type;
    QString target = job.target;

    if (control.isCancelled()) {
        out.result = TransferResult::Cancelled;
        co_return out;
    }
    PartFile part(job.partPath);
    if (!part.open()) {
        // Not ours to clean up: it may be another program's download.
        out.result = TransferResult::WriteFailed;
        out.errorText = QStringLiteral("无法写入文件：") + part.errorText();
        co_return out;
    }
    const std::optional<PartMeta> kept = ReadPartMeta(job.partPath);
    bool mayResume = kept && kept->url == address && !kept->ifRange().isEmpty() &&
                     part.size() > 0 && (kept->total < 0 || part.size() <= kept->total);
    QByteArray buffer(TransferReadBuffer, Qt::Uninitialized);

    for (int attempt = 0;; ++attempt) {
        const qint64 resumeFrom = mayResume ? part.size() : 0;
        // A second attempt only ever starts from scratch.
        const auto startOver = [&]() {
            QFile::remove(metaPath);
            mayResume = false;
            return attempt == 0 && part.truncate();
        };

        QNetworkRequest request(job.url);
        request.setMaximumRedirectsAllowed(20);
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                             QNetworkRequest::AlwaysNetwork);
        if (!job.userAgent.isEmpty())
            request.setHeader(QNetworkRequest::UserAgentHeader, job.userAgent);
        if (!job.referer.isEmpty())
            request.setRawHeader("Referer", job.referer);
        // Asked for here, the network manager leaves encoded bodies to us, so a
        // body cut short is told apart from a whole one.
        request.setRawHeader("Accept-Encoding", "gzip, deflate");
        if (resumeFrom > 0) {
            request.setRawHeader("Range", "bytes=" + QByteArray::number(resumeFrom) + '-');
            request.setRawHeader("If-Range", kept->ifRange());
        }
        ReplyPtr reply(nam.get(request));
        reply->setReadBufferSize(job.networkBuffer);
        QNetworkReply* const running = reply.get();
        QObject::connect(&control, &TransferControl::cancelled, running,
                         [running] { Abort(running); });

        // The response headers: at most the header wait.
        QElapsedTimer clock;
        clock.start();
        const milliseconds headerWait = TimeLimits::Scaled(TimeLimits::HeaderWait);
        bool timedOut = false;
        while (!reply->isFinished() && !HasFinalHead(reply.get())) {
            const milliseconds left = headerWait - milliseconds(clock.elapsed());
            if (left <= milliseconds(0)) {
                timedOut = true;
                Abort(reply.get());
                break;
            }
            co_await WaitForSignals(reply.get(), left, &QNetworkReply::metaDataChanged,
                                    &QNetworkReply::finished);
        }

        const Head head = ReadHead(reply.get());
        out.httpStatus = head.status;
        out.finalUrl = reply->url();
        out.contentType = head.contentType;
        out.validator = QString::fromLatin1(head.etag.isEmpty() ? head.lastModified : head.etag);
        out.retryAfterSeconds = head.retryAfter;
        out.networkError = int(reply->error());
        if (control.isCancelled()) {
            out.result = TransferResult::Cancelled;
            break;
        }
        // A redirect the network manager gave up on (a loop, an unsafe target).
        const bool redirectRefused =
            IsRedirect(head.status) && reply->error() != QNetworkReply::NoError;
        if (timedOut || head.status == 0 || redirectRefused) {
            out.result = TransferResult::NoResponse;
            out.errorText =
                timedOut ? QStringLiteral("等待服务器响应超时") : NetworkErrorText(reply->error());
            break;
        }

        bool alreadyComplete = false;
        if (resumeFrom > 0 && head.status == 416) {
            // Nothing left to send: the part is whole when it has the announced size.
            if (kept->total >= 0 && part.size() == kept->total) {
                alreadyComplete = true;
            } else if (startOver()) {
                continue;
            }
        }
        if (!alreadyComplete && (head.status < 200 || head.status >= 300)) {
            out.result = TransferResult::HttpError;
            out.errorText = HttpErrorText(head);
            break;
        }
        if (!alreadyComplete && head.encoded && !BodyDecoder::Supports(head.encoding)) {
            out.result = TransferResult::HttpError;
            out.errorText = QStringLiteral("无法识别服务器使用的内容编码：") +
                            QString::fromLatin1(head.encoding);
            break;
        }
        if (!alreadyComplete && head.status == 206 &&
            (resumeFrom == 0 || !RangeContinues(head, resumeFrom, *kept))) {
            // Bytes of another version or another place: never appended.
            Abort(reply.get());
            if (startOver())
                continue;
            out.result = TransferResult::Incomplete;
            out.errorText = QStringLiteral("服务器返回的部分内容与请求不符");
            break;
        }
        const bool resuming = alreadyComplete || head.status == 206;
        const qint64 total = alreadyComplete      ? kept->total
                             : head.status == 206 ? head.rangeTotal
                             : head.encoded       ? -1
                                                  : head.contentLength;
        out.total = total;
        out.resumedFrom = resuming ? resumeFrom : 0;
        ticket.total.store(total);
        ticket.received.store(resuming ? part.size() : 0);
        ticket.responded.store(true);

        if (job.maxBytes > 0 && total > job.maxBytes) {
            out.result = TransferResult::TooBig;
            break;
        }
        if (job.naming.typeFromResponse) {
            const QString extension = MimeToExtension(head.contentType);
            if (!extension.isEmpty() && !extension.contains(u'/'))
                out.type = extension;
            SaveNaming naming = job.naming;
            naming.type = out.type;
            const ChosenTarget chosen = ChooseSaveTarget(*job.reservations, naming, job.owner);
            out.name = chosen.name;
            target = chosen.path;
            if (chosen.status == ChosenTarget::Busy) {
                out.result = TransferResult::NameBusy;
                break;
            }
            if (chosen.status == ChosenTarget::Exists) {
                out.result = TransferResult::Exists;
                out.savedPath = target;
                break;
            }
        }
        if (AnythingExists(target) && !FileExists(target)) {
            out.result = TransferResult::CannotReplace;
            out.savedPath = target;
            out.errorText = QStringLiteral("无法替换：同名的文件夹或特殊文件占用了这个名称");
            break;
        }
        if (job.naming.policy == DuplicateNamePolicies::Overwrite && IsReadOnlyFile(target)) {
            out.result = TransferResult::CannotReplace;
            out.savedPath = target;
            out.errorText = QStringLiteral("无法替换：文件是只读的");
            break;
        }

        if (!resuming) {
            // A fresh body: the record of an older one goes first, so a crash in
            // between never pairs old bytes with a new validator.
            QFile::remove(metaPath);
            if (!part.truncate()) {
                out.result = TransferResult::WriteFailed;
                out.errorText = QStringLiteral("无法写入文件：") + part.errorText();
                break;
            }
            PartMeta meta{address, head.etag, head.lastModified, total};
            if (!head.encoded && !meta.ifRange().isEmpty())
                WritePartMeta(job.partPath, meta);
        }

        // The body, socket to file through the one buffer (and the decoder's).
        qint64 bodyBytes = 0; // as sent, before decoding
        bool writeFailed = false;
        bool tooBig = false;
        std::optional<BodyDecoder> decoder;
        if (head.encoded)
            decoder.emplace(head.encoding);
        QElapsedTimer sinceGrowth;
        sinceGrowth.start();
        const std::function<bool(const char*, qint64)> store = [&](const char* data, qint64 n) {
            if (!part.append(data, n)) {
                writeFailed = true;
                return false;
            }
            ticket.received.store(part.size(), std::memory_order_relaxed);
            // Without a size announced for the file (none at all, or only the encoded
            // one) the limit applies to what arrives: an endless body never fills the disk.
            tooBig = total < 0 && job.maxBytes > 0 && part.size() > job.maxBytes;
            return !tooBig;
        };
        const auto pump = [&]() {
            while (!writeFailed && !tooBig && (!decoder || !decoder->corrupt()) &&
                   reply->isOpen()) {
                const qint64 n = reply->read(buffer.data(), buffer.size());
                if (n <= 0)
                    return;
                bodyBytes += n;
                sinceGrowth.start();
                const bool stored = decoder ? decoder->feed(buffer.constData(), n, store)
                                            : store(buffer.constData(), n);
                if (!stored)
                    Abort(reply.get());
            }
        };
        bool stalled = false;
        if (!alreadyComplete) {
            QObject::connect(reply.get(), &QIODevice::readyRead, reply.get(), pump);
            pump();
            const milliseconds stallLimit = TimeLimits::Scaled(TimeLimits::StallLimit);
            const milliseconds check = TimeLimits::Scaled(TimeLimits::StallCheck);
            while (!reply->isFinished()) {
                const milliseconds quiet(sinceGrowth.elapsed());
                if (quiet >= stallLimit) {
                    stalled = true;
                    Abort(reply.get());
                    break;
                }
                co_await WaitForSignals(reply.get(), std::min(check, stallLimit - quiet),
                                        &QNetworkReply::finished);
            }
            pump();
        }
        out.bytes = part.size();
        out.networkError = int(reply->error());
        const bool closed = part.close();

        if (control.isCancelled()) {
            out.result = TransferResult::Cancelled;
        } else if (writeFailed || !closed) {
            out.result = TransferResult::WriteFailed;
            out.errorText = QStringLiteral("无法写入文件：") + part.errorText();
        } else if (tooBig) {
            out.result = TransferResult::TooBig;
        } else if (stalled) {
            out.result = TransferResult::Stalled;
            out.errorText = QStringLiteral("超时");
        } else if (!alreadyComplete && reply->error() != QNetworkReply::NoError) {
            out.result = TransferResult::Incomplete;
            out.errorText = QStringLiteral("下载中断：") + NetworkErrorText(reply->error());
        } else if (!alreadyComplete && head.contentLength >= 0 && bodyBytes != head.contentLength) {
            out.result = TransferResult::Incomplete;
            out.errorText = QStringLiteral("下载不完整：收到%1字节，应为%2字节")
                                .arg(bodyBytes)
                                .arg(head.contentLength);
        } else if (decoder && (decoder->corrupt() || !decoder->complete())) {
            out.result = TransferResult::Incomplete;
            out.errorText = decoder->corrupt() ? QStringLiteral("下载的压缩内容已损坏")
                                               : QStringLiteral("下载不完整：压缩内容没有结束");
        } else if (out.bytes == 0) {
            out.result = TransferResult::Empty;
            out.errorText = QStringLiteral("无法下载：服务器没有发送内容");
        } else if (IsPdfWithoutEnd(job.partPath)) {
            // A server that closed the connection early without having announced a
            // length looks finished to HTTP; a PDF still tells by its end marker.
            out.result = TransferResult::TruncatedPdf;
            out.errorText = QStringLiteral("PDF不完整：文件末尾没有%%EOF标记");
        } else {
            SaveNaming naming = job.naming;
            naming.name = out.name;
            naming.type = out.type;
            const CommitResult commit = CommitPartFile(
                job.partPath, target, naming, *job.reservations, job.owner, job.beforeCommit);
            out.result = commit.result;
            out.savedPath = commit.path;
            out.name = commit.name;
            if (commit.result == TransferResult::CannotReplace)
                out.errorText = QStringLiteral("无法替换：") + commit.errorText;
        }
        // A PDF that ended before its announced length is named as such.
        if (out.result == TransferResult::Incomplete && total >= 0 && out.bytes != total &&
            打开文件判断文件类型(job.partPath) == u"pdf") {
            out.result = TransferResult::TruncatedPdf;
            out.errorText = QStringLiteral("PDF不完整：") + out.errorText;
        }
        break;
    }

    part.close();
    if (out.result == TransferResult::Saved) {
        QFile::remove(metaPath);
    } else if (out.result == TransferResult::TooBig || out.result == TransferResult::Exists) {
        RemovePartFiles(job.partPath); // the task is finished: nothing of it stays
    } else {
        out.partKept = IsResumablePart(job.partPath, address);
        if (!out.partKept)
            RemovePartFiles(job.partPath);
    }
    co_return out;
}
