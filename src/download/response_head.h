#pragma once

#include "download/part_file.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// The header values of a response as they arrive, before anything is made of them.
struct RawResponseHead {
    int status = 0;
    QString reason;
    QByteArray contentLength;
    QByteArray contentEncoding;
    QByteArray etag;
    QByteArray lastModified;
    QByteArray contentType; // the whole value, parameters included
    QByteArray retryAfter;
    QByteArray contentRange;
};

// What the final response's headers say.
struct ResponseHead {
    int status = 0;
    QString reason;
    qint64 contentLength = -1;
    QByteArray encoding;  // Content-Encoding, lower-cased; empty for none
    bool encoded = false; // the body is decoded on the way, so the file's length differs
    QByteArray etag;
    QByteArray lastModified;
    QString contentType; // without parameters
    int retryAfter = -1;
    qint64 rangeStart = -1; // Content-Range of a partial answer; all -1 unless valid
    qint64 rangeEnd = -1;
    qint64 rangeTotal = -1;
};

ResponseHead ParseResponseHead(const RawResponseHead& raw, const QDateTime& now);

// Seconds from a Retry-After value (seconds or an HTTP date), -1 when unusable.
int ParseRetryAfter(const QByteArray& value, const QDateTime& now);

// A partial answer continues exactly the bytes kept (from of them), of the same version:
// no validator it carries differs from the one kept, and the one sent in If-Range
// comes back.
bool RangeContinues(const ResponseHead& head, qint64 from, const PartMeta& meta);

// A 416 to a request for the rest says the kept part of size bytes is the whole
// file: the size the server names now ("bytes */N") is the one announced before,
// and no validator it carries differs from the one kept.
bool ConfirmsWholePart(const ResponseHead& head, const PartMeta& meta, qint64 size);

// The error text of an answer that is not a success.
QString HttpErrorText(const ResponseHead& head);

// What a transfer does once the final head of an attempt is in. The attempt asked
// for the bytes from resumeFrom on (0: the whole file), with kept describing the
// part file of partSize bytes it continues.
struct HeadDecision {
    enum Verdict {
        Body,            // take the body: from the start, or appended when resuming
        AlreadyComplete, // nothing left to send and the part is whole
        StaleRange,      // 416 for a part that is not whole: start over, else an HTTP error
        HttpError,       // the status is no success
        UnknownEncoding, // a content encoding the decoder cannot undo
        RangeMismatch,   // a partial answer that does not continue the part: start over
    } verdict = HttpError;
    bool resuming = false; // the part's bytes stay and the body follows them
    qint64 total = -1;     // length of the whole file, -1 when unknown
};
HeadDecision DecideOnHead(const ResponseHead& head, qint64 resumeFrom,
                          const std::optional<PartMeta>& kept, qint64 partSize);
