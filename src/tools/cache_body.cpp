#include "tools/cache_body.h"

#include "tools/confined_files.h"
#include "tools/file_copy.h"

#include <QByteArray>
#include <QList>
#include <QSaveFile>
#include <QtEndian>

#include <array>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The engine's entry file: header, key, body, the body's end record, the
// response's headers (a pickle), the key's SHA-256 (when flagged), the
// headers' end record.
constexpr quint64 EntryMagic = 0xfcfb6d1ba7725c30ULL;
constexpr quint64 EndMagic = 0xf4fa6f45970d41d8ULL;
constexpr qint64 HeaderSize = 24;
// magic (8), flags (4), CRC-32 (4), stream size (4), padding (4)
constexpr qint64 EndRecordSize = 24;
constexpr quint32 EndHasCrc = 1U << 0;
constexpr quint32 EndHasKeySha256 = 1U << 1;
constexpr qint64 KeySha256Size = 32;
// A response's headers are never near this long.
constexpr qint64 MaxHeadersStream = 1024 * 1024;
// In the response's flags: the body was cut short.
constexpr quint32 ResponseTruncated = 1U << 12;
constexpr qint64 Chunk = 1024 * 1024;

const std::array<quint32, 256>& CrcTable() {
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xedb88320U ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

// CRC-32 (the zlib one), continued from crc.
quint32 Crc32(quint32 crc, const char* data, qint64 size) {
    const auto& table = CrcTable();
    crc = ~crc;
    for (qint64 i = 0; i < size; ++i)
        crc = table[(crc ^ quint8(data[i])) & 0xff] ^ (crc >> 8);
    return ~crc;
}

std::optional<QByteArray> ReadAt(int fd, qint64 offset, qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, bytes.data() + done, size_t(size - done), offset + done);
        if (n <= 0)
            return std::nullopt;
        done += n;
    }
    return bytes;
}

struct EndRecord {
    quint32 flags = 0;
    quint32 crc = 0;
    quint32 streamSize = 0;
};

std::optional<EndRecord> ReadEndRecord(int fd, qint64 offset) {
    const std::optional<QByteArray> bytes = ReadAt(fd, offset, EndRecordSize);
    if (!bytes || qFromLittleEndian<quint64>(bytes->constData()) != EndMagic)
        return std::nullopt;
    return EndRecord{qFromLittleEndian<quint32>(bytes->constData() + 8),
                     qFromLittleEndian<quint32>(bytes->constData() + 12),
                     qFromLittleEndian<quint32>(bytes->constData() + 16)};
}

// The response's flags and header lines ("HTTP/1.1 200 OK", "Name: value", ...).
struct StoredResponse {
    quint32 flags = 0;
    QList<QByteArray> lines;
};

std::optional<StoredResponse> ParseResponse(const QByteArray& pickle) {
    if (pickle.size() < 8)
        return std::nullopt;
    StoredResponse response;
    response.flags = qFromLittleEndian<quint32>(pickle.constData() + 4);
    // Payload size, flags, two times; then the headers as a length and the text
    // (newer engines put one more number before them).
    for (qsizetype at : {20, 24}) {
        if (at + 4 > pickle.size())
            break;
        const qint32 length = qFromLittleEndian<qint32>(pickle.constData() + at);
        const QByteArray text = pickle.mid(at + 4, length);
        if (length <= 0 || text.size() != length || !text.startsWith("HTTP/"))
            continue;
        response.lines = text.split('\0');
        return response;
    }
    return std::nullopt;
}

std::optional<QByteArray> HeaderValue(const StoredResponse& response, const QByteArray& name) {
    for (const QByteArray& line : response.lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return std::nullopt;
}

} // namespace

BodyResult ExtractCacheEntryBody(const QString& entryPath, const QString& target) {
    const UniqueFd fd(OpenPlainFile(entryPath));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0)
        return BodyResult::Unreadable;
    const qint64 size = st.st_size;
    const std::optional<QByteArray> header = ReadAt(fd.get(), 0, HeaderSize);
    if (!header || qFromLittleEndian<quint64>(header->constData()) != EntryMagic)
        return BodyResult::Unreadable;
    const qint64 bodyStart = HeaderSize + qFromLittleEndian<quint32>(header->constData() + 12);

    // From the end: the headers' record, the headers, the body's record.
    const std::optional<EndRecord> headersEnd = ReadEndRecord(fd.get(), size - EndRecordSize);
    if (!headersEnd)
        return BodyResult::Incomplete;
    qint64 headersStop = size - EndRecordSize;
    if (headersEnd->flags & EndHasKeySha256)
        headersStop -= KeySha256Size;
    const qint64 headersStart = headersStop - headersEnd->streamSize;
    const qint64 bodyStop = headersStart - EndRecordSize;
    if (headersEnd->streamSize > MaxHeadersStream || bodyStop < bodyStart)
        return BodyResult::Unreadable;
    const std::optional<EndRecord> bodyEnd = ReadEndRecord(fd.get(), bodyStop);
    const std::optional<QByteArray> pickle = ReadAt(fd.get(), headersStart, headersEnd->streamSize);
    const std::optional<StoredResponse> response = pickle ? ParseResponse(*pickle) : std::nullopt;
    if (!bodyEnd || !response)
        return BodyResult::Unreadable;

    const QList<QByteArray> status = response->lines.value(0).split(' ');
    if ((response->flags & ResponseTruncated) ||
        (status.value(1) != "200" && status.value(1) != "203"))
        return BodyResult::Incomplete;
    const std::optional<QByteArray> encoding = HeaderValue(*response, "Content-Encoding");
    if (encoding && !encoding->isEmpty() && encoding->compare("identity", Qt::CaseInsensitive) != 0)
        return BodyResult::Encoded;
    const qint64 bodySize = bodyStop - bodyStart;
    const std::optional<QByteArray> length = HeaderValue(*response, "Content-Length");
    bool lengthOk = false;
    if (length && length->toLongLong(&lengthOk) != bodySize)
        return BodyResult::Incomplete;
    const bool hasCrc = bodyEnd->flags & EndHasCrc;
    // Neither a checksum nor a length: no way to know the body is whole.
    if (!hasCrc && !lengthOk)
        return BodyResult::Incomplete;

    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return BodyResult::Unreadable;
    quint32 crc = 0;
    for (qint64 at = bodyStart; at < bodyStop; at += Chunk) {
        const std::optional<QByteArray> bytes =
            ReadAt(fd.get(), at, std::min(Chunk, bodyStop - at));
        if (!bytes || out.write(*bytes) != bytes->size())
            return BodyResult::Unreadable;
        crc = Crc32(crc, bytes->constData(), bytes->size());
    }
    if (hasCrc && crc != bodyEnd->crc)
        return BodyResult::Incomplete;
    return out.commit() ? BodyResult::Written : BodyResult::Unreadable;
}
