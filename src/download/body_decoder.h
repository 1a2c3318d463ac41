#pragma once

#include <QByteArray>

#include <functional>

#include <zlib.h>

// Decodes a gzip or deflate response body as it arrives, through one output buffer,
// and tells whether the encoded stream reached its proper end: a body cut short
// decodes to a plausible prefix, so only the stream's own end proves it whole.
class BodyDecoder {
public:
    // encoding: the Content-Encoding value, lower-cased ("gzip", "x-gzip", "deflate").
    static bool Supports(const QByteArray& encoding);

    explicit BodyDecoder(const QByteArray& encoding);
    ~BodyDecoder();
    BodyDecoder(const BodyDecoder&) = delete;
    BodyDecoder& operator=(const BodyDecoder&) = delete;

    // Feeds encoded bytes; sink gets the decoded ones and returns false to stop.
    // False when the data is corrupt or the sink stopped.
    bool feed(const char* data, qint64 length,
              const std::function<bool(const char*, qint64)>& sink);
    // The last stream seen ended properly (several gzip members may follow each other).
    bool complete() const { return ended_; }
    bool corrupt() const { return corrupt_; }

private:
    bool start(const char* data, qint64 length);

    z_stream zs_{};
    QByteArray encoding_;
    QByteArray out_;
    QByteArray early_; // a first byte of "deflate" waiting for the second
    bool initialised_ = false;
    bool ended_ = false;
    bool corrupt_ = false;
};
