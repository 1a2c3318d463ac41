#include "download/body_decoder.h"

#include "download/transfer_types.h"

namespace {
constexpr int GzipOrZlibWindow = 15 + 32; // zlib detects the header itself
constexpr int RawDeflateWindow = -15;
} // namespace

bool BodyDecoder::Supports(const QByteArray& encoding) {
    return encoding == "gzip" || encoding == "x-gzip" || encoding == "deflate";
}

BodyDecoder::BodyDecoder(const QByteArray& encoding)
    : encoding_(encoding)
    , out_(TransferReadBuffer, Qt::Uninitialized) {}

BodyDecoder::~BodyDecoder() {
    if (initialised_)
        inflateEnd(&zs_);
}

bool BodyDecoder::start(const char* data, qint64 length) {
    // "deflate" is meant to be a zlib stream, but some servers send it raw.
    int window = GzipOrZlibWindow;
    if (encoding_ == "deflate" && length >= 2) {
        const auto cmf = static_cast<unsigned char>(data[0]);
        const auto flg = static_cast<unsigned char>(data[1]);
        if ((cmf & 0x0F) != 8 || (cmf * 256 + flg) % 31 != 0)
            window = RawDeflateWindow;
    }
    if (inflateInit2(&zs_, window) != Z_OK)
        return false;
    initialised_ = true;
    return true;
}

bool BodyDecoder::feed(const char* data, qint64 length,
                       const std::function<bool(const char*, qint64)>& sink) {
    if (corrupt_)
        return false;
    QByteArray joined;
    if (!initialised_ && length > 0) {
        // Whether "deflate" comes raw shows only in its first two bytes, and a read
        // may bring just one: it waits for the next.
        if (encoding_ == "deflate" && early_.size() + length < 2) {
            early_.append(data, length);
            return true;
        }
        if (!early_.isEmpty()) {
            joined = early_ + QByteArray(data, length);
            early_.clear();
            data = joined.constData();
            length = joined.size();
        }
        if (!start(data, length)) {
            corrupt_ = true;
            return false;
        }
    }
    zs_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    zs_.avail_in = uInt(length);
    while (zs_.avail_in > 0) {
        if (ended_) {
            // Another gzip member follows the one that ended.
            inflateReset(&zs_);
            ended_ = false;
        }
        // Until the input is used up and the output buffer was not filled (a full
        // buffer may leave decoded bytes inside zlib).
        for (;;) {
            zs_.next_out = reinterpret_cast<Bytef*>(out_.data());
            zs_.avail_out = uInt(out_.size());
            const int status = inflate(&zs_, Z_NO_FLUSH);
            const qint64 produced = out_.size() - qint64(zs_.avail_out);
            // What decoded before a fault goes out as well, so that how the reads
            // were cut never changes which bytes were seen.
            if (produced > 0 && !sink(out_.constData(), produced))
                return false;
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
                corrupt_ = true;
                return false;
            }
            if (status == Z_STREAM_END) {
                ended_ = true;
                break;
            }
            if (zs_.avail_out != 0 || produced == 0)
                break;
        }
        if (!ended_ && zs_.avail_in > 0 && zs_.avail_out != 0) {
            corrupt_ = true; // input zlib would not take: never dropped silently
            return false;
        }
    }
    return true;
}
