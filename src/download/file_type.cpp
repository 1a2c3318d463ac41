#include "download/file_type.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <initializer_list>
#include <optional>

namespace {

// One byte comparison at an offset of the head buffer.
struct Bytes {
    qsizetype offset;
    QByteArray value;
};

struct Signature {
    std::initializer_list<Bytes> parts;
    const char* type;
};

QByteArray Hex(const char* hex) {
    return QByteArray::fromHex(hex);
}

// Head buffer: min(size, 10240) + 1 bytes; what lies past the end of the file is 0.
QByteArray HeadBuffer(const QByteArray& head, qint64 size) {
    const qint64 n = std::clamp<qint64>(size, 0, FileTypeHeadBytes);
    QByteArray buffer = head.left(n);
    buffer.resize(n + 1, '\0');
    return buffer;
}

enum class Match { Yes, No, OutOfRange };

Match Test(const QByteArray& head, std::initializer_list<Bytes> parts) {
    for (const Bytes& part : parts) {
        if (part.offset + part.value.size() > head.size())
            return Match::OutOfRange;
    }
    for (const Bytes& part : parts) {
        if (head.mid(part.offset, part.value.size()) != part.value)
            return Match::No;
    }
    return Match::Yes;
}

// The signature table, in order. nullopt: a test reached past the head buffer,
// which ends detection; empty text: nothing matched.
std::optional<QString> TypeFromSignature(const QByteArray& head) {
    static const QByteArray pdf = Hex("25504446"), caj = Hex("C8000000"), kdhZero = Hex("43414A00"),
                            kdhSpace = Hex("4B444820"), nh = Hex("4E480000"), tif = Hex("49492A00"),
                            rtf = Hex("7B5C727466"), exe = Hex("4D5A"), rar = Hex("52617221"),
                            zip = Hex("504B030414000000"
                                      "08"),
                            docx = Hex("504B0304140006000800"), swf = Hex("43575306"),
                            rm = Hex("2E524D46"), wma = Hex("3026B2758E"), mp3 = Hex("49443303"),
                            png = Hex("89504E470D0A1A0A"), gif = Hex("47494638393104"),
                            gif87 = Hex("474946383761"), gif89 = Hex("474946383961"),
                            jpgExif = Hex("FFD8FFE1"), exif = Hex("45786966"),
                            motorola = Hex("4D4D002A"), jfif = Hex("FFD8FFE000104A464946"),
                            ole = Hex("D0CF11E0A1B11AE1"), doc = Hex("ECA5C100"),
                            xls = Hex("09081000");

    const Signature table[] = {
        {{{0, pdf}}, "pdf"},
        {{{0, caj}}, "caj"},
        {{{0, kdhZero}}, "kdh"},
        {{{0, kdhSpace}}, "kdh"},
        {{{0, nh}}, "nh"},
        {{{0, tif}}, "tif"},
        {{{0, rtf}}, "rtf"},
        {{{0, exe}}, "exe"},
        {{{0, rar}}, "rar"},
        {{{0, zip}}, "zip"},
        {{{0, docx}}, "docx"},
        {{{0, swf}}, "swf"},
        {{{0, rm}}, "rm"},
        {{{0, wma}}, "wma"},
        {{{0, mp3}}, "mp3"},
        {{{0, png}}, "png"},
        // The literal pattern plus the two real GIF signatures, which it never matches.
        {{{0, gif}}, "gif"},
        {{{0, gif87}}, "gif"},
        {{{0, gif89}}, "gif"},
        {{{0, jpgExif}, {6, exif}, {12, motorola}}, "jpg"},
        {{{0, jfif}}, "jpg"},
    };
    for (const Signature& sig : table) {
        switch (Test(head, sig.parts)) {
        case Match::Yes:
            return QString::fromLatin1(sig.type);
        case Match::OutOfRange:
            return std::nullopt;
        case Match::No:
            break;
        }
    }

    switch (Test(head, {{0, ole}})) {
    case Match::OutOfRange:
        return std::nullopt;
    case Match::No:
        return QString();
    case Match::Yes:
        break;
    }
    if (515 >= head.size())
        return std::nullopt;
    if (head.mid(512, 4) == doc)
        return QStringLiteral("doc");
    if (head.mid(512, 4) == xls)
        return QStringLiteral("xls");
    if (quint8(head.at(515)) == 0xF0)
        return QStringLiteral("ppt");
    return std::nullopt;
}

bool ContainsNoCase(const QByteArray& lowered, const char* needle) {
    return lowered.contains(needle);
}

// ID3v1 tag: the last 128 bytes start with "TAG".
bool HasId3v1Tag(const QByteArray& tail, qint64 size) {
    return size > FileTypeTailBytes && tail.size() >= FileTypeTailBytes &&
           tail.right(FileTypeTailBytes).startsWith("TAG");
}

bool LooksLikeHtml(const QByteArray& head) {
    const QByteArray text = head.toLower();
    const bool html = ContainsNoCase(text, "<html ") || ContainsNoCase(text, "html>");
    const bool part = ContainsNoCase(text, "<title>") || ContainsNoCase(text, "<head>") ||
                      ContainsNoCase(text, "<body>");
    return html && part;
}

// text: the whole (small) file.
bool LooksLikeCaa(const QByteArray& text) {
    for (const char* key :
         {"A1=", "[TARGET]", "A2=", "B1=", "B2=", "C1=", "C2=", "D1=", "D2=", "DOCTYPE="}) {
        if (!text.contains(key))
            return false;
    }
    return true;
}

} // namespace

QString FileTypeFromBytes(const QByteArray& head, const QByteArray& tail, qint64 size) {
    const QByteArray buffer = HeadBuffer(head, size);
    const std::optional<QString> bySignature = TypeFromSignature(buffer);
    if (!bySignature)
        return {};
    if (!bySignature->isEmpty())
        return *bySignature;
    if (HasId3v1Tag(tail, size))
        return QStringLiteral("mp3");
    if (size / 1024 < 200 && LooksLikeHtml(buffer))
        return QStringLiteral("htm");
    // A file under 3 KB lies wholly inside the head.
    if (size / 1024 < 3 && LooksLikeCaa(buffer.left(size)))
        return QStringLiteral("caa");
    return {};
}

QString 打开文件判断文件类型(const QString& path) {
    // Only a regular file: open() on a named pipe waits for a writer, and a
    // device has no size to read a tail from.
    QFile file(path);
    if (path.isEmpty() || !QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    const qint64 size = file.size();
    const QByteArray head = file.read(std::min(size, FileTypeHeadBytes));
    QByteArray tail;
    if (size > FileTypeTailBytes && file.seek(size - FileTypeTailBytes))
        tail = file.read(FileTypeTailBytes);
    return FileTypeFromBytes(head, tail, size);
}

bool IsPdfWithoutEnd(const QString& path) {
    if (打开文件判断文件类型(path) != u"pdf")
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    if (!file.seek(std::max<qint64>(0, size - PdfEndBytes)))
        return false;
    return !file.read(PdfEndBytes).contains("%%EOF");
}
