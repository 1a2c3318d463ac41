#pragma once

#include "download/part_file.h"

#include <QByteArray>
#include <QString>

class QNetworkReply;

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

Head ReadHead(QNetworkReply* reply);

// A partial answer continues exactly the bytes kept (from of them), of the same version.
bool RangeContinues(const Head& head, qint64 from, const PartMeta& meta);

// A 416 to a request for the rest says the kept part of size bytes is the whole
// file: the size the server names now is the one announced before, and no
// validator it carries differs from the one kept.
bool ConfirmsWholePart(const Head& head, const PartMeta& meta, qint64 size);

// The error text of an answer that is not a success.
QString HttpErrorText(const Head& head);
