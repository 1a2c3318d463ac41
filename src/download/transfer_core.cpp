#include "download/transfer_core.h"

#include "download/body_decoder.h"
#include "download/file_type.h"
#include "download/part_file.h"
#include "download/response_head.h"
#include "download/save_names.h"
#include "download/save_target.h"
#include "settings/settings_keys.h"
#include "tools/file_helpers.h"
#include "tools/time_limits.h"
#include "tools/wait.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <memory>

using std::chrono::milliseconds;

namespace {

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

ResponseHead ReadHead(QNetworkReply* reply) {
    RawResponseHead raw;
    raw.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    raw.reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    raw.contentLength = reply->rawHeader("Content-Length");
    raw.contentEncoding = reply->rawHeader("Content-Encoding");
    raw.etag = reply->rawHeader("ETag");
    raw.lastModified = reply->rawHeader("Last-Modified");
    raw.contentType = reply->rawHeader("Content-Type");
    raw.retryAfter = reply->rawHeader("Retry-After");
    raw.contentRange = reply->rawHeader("Content-Range");
    return ParseResponseHead(raw, QDateTime::currentDateTimeUtc());
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

bool IsDownloadAddress(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == u"http" || scheme == u"https");
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
    // The network manager would read a local file or a data address as well.
    if (!IsDownloadAddress(job.url)) {
        out.result = TransferResult::NoResponse;
        out.errorText = QStringLiteral("只能下载 http 或 https 网址");
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
    // Without a validator only a part whose whole size was announced goes on, and
    // only when the server names that size again.
    bool mayResume = kept && kept->url == address && part.size() > 0 &&
                     (kept->ifRange().isEmpty() ? kept->total >= 0 && part.size() <= kept->total
                                                : kept->total < 0 || part.size() <= kept->total);
    QByteArray buffer(TransferReadBuffer, Qt::Uninitialized);
    bool discard = false;    // the part holds bytes that must not be continued
    bool unrecorded = false; // whole, but could not be put in place on record

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
            if (!kept->ifRange().isEmpty())
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

        const ResponseHead head = ReadHead(reply.get());
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

        const HeadDecision decision = DecideOnHead(head, resumeFrom, kept, part.size());
        if (decision.verdict == HeadDecision::StaleRange && startOver())
            continue;
        if (decision.verdict == HeadDecision::StaleRange ||
            decision.verdict == HeadDecision::HttpError) {
            out.result = TransferResult::HttpError;
            out.errorText = HttpErrorText(head);
            break;
        }
        if (decision.verdict == HeadDecision::UnknownEncoding) {
            out.result = TransferResult::HttpError;
            out.errorText = QStringLiteral("无法识别服务器使用的内容编码：") +
                            QString::fromLatin1(head.encoding);
            break;
        }
        if (decision.verdict == HeadDecision::RangeMismatch) {
            Abort(reply.get());
            if (startOver())
                continue;
            out.result = TransferResult::Incomplete;
            out.errorText = QStringLiteral("服务器返回的部分内容与请求不符");
            break;
        }
        const bool alreadyComplete = decision.verdict == HeadDecision::AlreadyComplete;
        const bool resuming = decision.resuming;
        const qint64 total = decision.total;
        out.total = total;
        out.resumedFrom = resuming ? resumeFrom : 0;
        ticket.total.store(total);
        ticket.received.store(resuming ? part.size() : 0);
        ticket.responded.store(true);

        if (total >= 0 && ExceedsSizeLimit(total, job.maxFileSizeMB)) {
            out.result = TransferResult::TooBig;
            break;
        }
        if (job.naming.typeFromResponse) {
            // A whole part's type is the one its body came with, not the error page's.
            const QString extension =
                MimeToExtension(alreadyComplete ? kept->contentType : head.contentType);
            if (!extension.contains(u'/') && !CleanFileType(extension).isEmpty())
                out.type = CleanFileType(extension);
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
            PartMeta meta{address, head.etag, head.lastModified, total, head.contentType};
            if (!head.encoded)
                WritePartMeta(job.partPath, meta);
        }

        // The body, socket to file through the one buffer (and the decoder's).
        qint64 bodyBytes = 0; // as sent, before decoding
        bool writeFailed = false;
        bool tooBig = false;
        bool tooLong = false; // more bytes than the file has: the answer is not to be trusted
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
            tooBig = total < 0 && ExceedsSizeLimit(part.size(), job.maxFileSizeMB);
            tooLong = total >= 0 && !head.encoded && part.size() > total;
            return !tooBig && !tooLong;
        };
        const auto pump = [&]() {
            while (!writeFailed && !tooBig && !tooLong && (!decoder || !decoder->corrupt()) &&
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
        // A body that ended cleanly yet does not fill the file exactly (a partial
        // answer sent chunked or up to the connection's close) is not resumed either.
        const bool lengthWrong =
            !alreadyComplete && !head.encoded && total >= 0 &&
            (out.bytes != total ||
             (head.status == 206 && bodyBytes != head.rangeEnd - head.rangeStart + 1));

        if (control.isCancelled()) {
            out.result = TransferResult::Cancelled;
        } else if (writeFailed) {
            out.result = TransferResult::WriteFailed;
            out.errorText = QStringLiteral("无法写入文件：") + part.errorText();
        } else if (tooBig) {
            out.result = TransferResult::TooBig;
        } else if (tooLong) {
            out.result = TransferResult::Incomplete;
            out.errorText = QStringLiteral("下载内容比文件长：服务器的回答不可信");
            discard = true;
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
        } else if (lengthWrong) {
            out.result = TransferResult::Incomplete;
            out.errorText =
                QStringLiteral("下载不完整：文件有%1字节，应为%2字节").arg(out.bytes).arg(total);
            discard = true;
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
            // A file about to be replaced goes only once its successor is on the disk.
            const bool replacing =
                job.naming.policy == DuplicateNamePolicies::Overwrite && AnythingExists(target);
            if (replacing && !part.sync()) {
                out.result = TransferResult::WriteFailed;
                out.errorText = QStringLiteral("无法写入文件：") + part.errorText();
                break;
            }
            const CommitResult commit = CommitPartFile(
                job.partPath, target, naming, *job.reservations, job.owner, job.beforeCommit);
            out.result = commit.result;
            unrecorded = commit.result == TransferResult::WriteFailed;
            if (unrecorded) {
                out.errorText = QStringLiteral("无法写入文件：") + commit.errorText;
                break;
            }
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

    // Still locked: nobody else writes, renames or removes the part meanwhile.
    if (out.result == TransferResult::Saved) {
        QFile::remove(metaPath);
    } else if (out.result == TransferResult::TooBig || out.result == TransferResult::Exists ||
               discard) {
        RemovePartFiles(job.partPath); // finished, or not to be trusted: nothing of it stays
    } else {
        // A cut PDF or a whole body is worth keeping even without a validator: the
        // next attempt checks the size the server names before appending.
        out.partKept = IsResumablePart(job.partPath, address,
                                       out.result == TransferResult::TruncatedPdf || unrecorded);
        if (!out.partKept)
            RemovePartFiles(job.partPath);
    }
    part.close();
    co_return out;
}
