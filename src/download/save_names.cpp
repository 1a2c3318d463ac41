#include "download/save_names.h"

#include "settings/settings_keys.h"
#include "tools/file_helpers.h"
#include "tools/prompter.h"
#include "tools/text_utils.h"

#include <QDir>

#include <iconv.h>

namespace {

// Code points of text, surrogate pairs kept together.
template <typename Fn> void ForEachCodePoint(const QString& text, Fn fn) {
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        qsizetype len = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate())
            len = 2;
        if (!fn(i, len))
            return;
        i += len;
    }
}

// Bytes a character takes in GB18030 (a superset of GBK that can encode every
// character, so no character turns into a question mark).
class Gb18030Counter {
public:
    Gb18030Counter()
        : cd_(iconv_open("GB18030", "UTF-8")) {}
    ~Gb18030Counter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd_);
    }
    Gb18030Counter(const Gb18030Counter&) = delete;
    Gb18030Counter& operator=(const Gb18030Counter&) = delete;

    int bytesOf(QStringView character) {
        if (character.size() == 1 && character.at(0).unicode() < 0x80)
            return 1;
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            return 4;
        // One character is at most 4 bytes of UTF-8; no allocation per character.
        char in[4];
        size_t inLeft = 0;
        const char32_t code = character.size() == 2
                                  ? QChar::surrogateToUcs4(character.at(0), character.at(1))
                                  : character.at(0).unicode();
        if (code < 0x800) {
            in[inLeft++] = char(0xC0 | (code >> 6));
        } else if (code < 0x10000) {
            in[inLeft++] = char(0xE0 | (code >> 12));
            in[inLeft++] = char(0x80 | ((code >> 6) & 0x3F));
        } else {
            in[inLeft++] = char(0xF0 | (code >> 18));
            in[inLeft++] = char(0x80 | ((code >> 12) & 0x3F));
            in[inLeft++] = char(0x80 | ((code >> 6) & 0x3F));
        }
        in[inLeft++] = char(0x80 | (code & 0x3F));
        char out[16];
        char* inPtr = in;
        char* outPtr = out;
        size_t outLeft = sizeof out;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1))
            return 4;
        return int(sizeof out - outLeft);
    }

private:
    iconv_t cd_;
};

// Longest prefix whose encoding fits in maxBytes; never splits a character.
template <typename Measure> QString CutToBytes(const QString& text, int maxBytes, Measure measure) {
    int used = 0;
    qsizetype keep = 0;
    ForEachCodePoint(text, [&](qsizetype at, qsizetype len) {
        const int bytes = measure(QStringView(text).mid(at, len));
        if (used + bytes > maxBytes)
            return false;
        used += bytes;
        keep = at + len;
        return true;
    });
    return text.left(keep);
}

// Lone surrogates never get here: the cleaning drops them first.
int Utf8Bytes(QStringView character) {
    if (character.size() == 2)
        return 4;
    const char16_t c = character.at(0).unicode();
    return c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
}

// Digits of a numbered suffix that are counted on; a longer number stays part of the name.
constexpr qsizetype MaxCounterDigits = 18;

bool IsControl(QChar c) {
    return c.unicode() < 0x20 || c.unicode() == 0x7F;
}

QString StripDots(QString text) {
    while (text.startsWith(u'.'))
        text.remove(0, 1);
    while (text.endsWith(u'.'))
        text.chop(1);
    return text;
}

} // namespace

QString SanitizeFileName(const QString& text) {
    QString name;
    name.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            name.append(c);
            name.append(text.at(++i));
            continue;
        }
        // A lone surrogate (a script's string can hold one) has no spelling on disk:
        // the system would get other bytes than the ones counted here. A byte order mark
        // is invisible, and Qt drops it at the start of a name it reads back.
        if (c.isSurrogate() || c == QChar::ByteOrderMark ||
            QStringView(u"\\/:*?<>|\"").contains(c) || IsControl(c))
            continue;
        name.append(c);
    }
    name = StripDots(name);

    // Opening a converter costs more than cleaning a name: one per thread, kept.
    thread_local Gb18030Counter gb;
    name = CutToBytes(name, MaxNameGbkBytes, [&](QStringView c) { return gb.bytesOf(c); });
    name = TrimSpaces(name);
    name = CutToBytes(name, MaxNameUtf8Bytes, Utf8Bytes);

    // Trimming can uncover dots again (" .x"), and a leading dot would hide the file.
    for (;;) {
        const QString cleaned = TrimSpaces(StripDots(TrimSpaces(name)));
        if (cleaned == name)
            break;
        name = cleaned;
    }
    return name;
}

QString EnsureFolder(const QString& path, Prompter& prompter) {
    const QString absolute = QDir::isAbsolutePath(path) ? path : QDir::current().filePath(path);
    const QStringList parts = absolute.split(u'/');
    QString result = parts.value(0);
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QString& given = parts.at(i);
        if (given.isEmpty())
            break;
        // A folder the user already has is taken as it is ("~/.local" stays); "." and
        // ".." never are, so the walk cannot climb out.
        const bool dots = given == u"." || given == u"..";
        if (!dots && FolderExists(result + u'/' + given)) {
            result += u'/' + given;
            continue;
        }
        const QString part = SanitizeFileName(given);
        if (part.isEmpty()) {
            prompter.message(QStringLiteral("文件夹名称有误！不能创建文件夹！"),
                             Prompter::Icon::Critical);
            break;
        }
        result += u'/' + part;
        if (!FolderExists(result))
            QDir().mkdir(result);
    }
    return FolderExists(result) ? result : QString();
}

QString MimeToExtension(const QString& contentType) {
    const QStringList parts = contentType.split(u'/');
    if (parts.size() != 2)
        return contentType;
    const QString major = TrimSpaces(parts.at(0)).toLower();
    const QString minor = TrimSpaces(parts.at(1)).remove(u' ').toLower();

    struct Row {
        const char16_t* major;
        const char16_t* minor;
        const char16_t* result; // nullptr: the minor itself
    };
    static const Row table[] = {
        {u"application", u"octet-stream", u""},
        {u"application", u"x-shockwave-flash", u"swf"},
        {u"application", u"x-javascript", u"js"},
        {u"application", u"vnd.rn-realmedia", nullptr},
        {u"application", u"vnd.ms-wpl", u"wpl"},
        {u"application", u"kdh", nullptr},
        {u"application", u"caj", nullptr},
        {u"application", u"pdf", nullptr},
        {u"application", u"caa", nullptr},
        {u"application", u"nh", nullptr},
        {u"text", u"html", nullptr},
        {u"text", u"txt", nullptr},
        {u"text", u"htm", nullptr},
        {u"text", u"xml", nullptr},
        {u"text", u"css", nullptr},
        {u"text", u"plain", nullptr},
        {u"image", u"jpg", nullptr},
        {u"image", u"jpeg", nullptr},
        {u"image", u"gif", nullptr},
        {u"image", u"png", nullptr},
        {u"image", u"bmp", nullptr},
        {u"image", u"tif", nullptr},
        {u"image", u"pjpeg", nullptr},
        {u"image", u"g3fax", nullptr},
        {u"image", u"ief", nullptr},
        {u"image", u"tiff", u"tif"},
        {u"image", u"x-png", u"png"},
        {u"image", u"x-ms-bmp", u"bmp"},
        {u"image", u"x-icon", u"ico"},
        {u"video", u"mpeg", nullptr},
        {u"video", u"quicktime", nullptr},
        {u"video", u"mpeg4", u"mp4"},
        {u"video", u"x-msvideo", u"avi"},
        {u"video", u"x-ms-asf", u"asf"},
        {u"audio", u"amr", nullptr},
        {u"audio", u"x-mpegurl", nullptr},
        {u"audio", u"x-ms-wma", u"wma"},
        {u"audio", u"x-wav", u"wav"},
        {u"audio", u"x-pn-realaudio", u"ram"},
        {u"audio", u"midi", u"mid"},
    };
    for (const Row& row : table) {
        if (major == QStringView(row.major) && minor == QStringView(row.minor))
            return row.result ? QString::fromUtf16(row.result) : minor;
    }
    static const QStringList knownMajors = {QStringLiteral("application"), QStringLiteral("text"),
                                            QStringLiteral("image"), QStringLiteral("video"),
                                            QStringLiteral("audio")};
    if (knownMajors.contains(major) && (minor.isEmpty() || minor == u"*"))
        return major;
    return contentType;
}

QString CleanFileType(const QString& type) {
    return SanitizeFileName(CutToBytes(SanitizeFileName(type), MaxTypeUtf8Bytes, Utf8Bytes));
}

SaveTarget 重命名保存路径(const QString& folder, const QString& name, const QString& type,
                          const QString& policy, const std::function<bool(const QString&)>& taken) {
    const auto isTaken = [&taken](const QString& path) {
        return taken ? taken(path) : AnythingExists(path);
    };
    QString base = folder;
    if (!base.endsWith(u'/'))
        base += u'/';
    const QString cleanType = CleanFileType(type);
    const auto fileOf = [&cleanType](const QString& stem) {
        return cleanType.isEmpty() ? stem : stem + u'.' + cleanType;
    };
    QString cleanName = SanitizeFileName(name);
    if (cleanName.isEmpty())
        cleanName = FallbackFileName;
    const QString path = base + fileOf(cleanName);
    if (policy == DuplicateNamePolicies::Overwrite || !isTaken(path))
        return {cleanName, path};

    QString stem = cleanName;
    qint64 counter = 0;
    const qsizetype open = stem.lastIndexOf(u'[');
    const qsizetype close = stem.lastIndexOf(u']');
    if (open >= 0 && close >= 0 && open < close) {
        const QString inside = TrimSpaces(stem.mid(open + 1, close - open - 1));
        // Counting on from a number of 19 digits could run past the largest one.
        if (IsDigitsOnly(inside) && inside.size() <= MaxCounterDigits) {
            counter = inside.toLongLong();
            stem = stem.left(open);
        }
    }
    // The wide brackets take three bytes each where "[" and "]" took one.
    stem = CutToBytes(stem.replace(u'[', u'『').replace(u']', u'』'), MaxNameUtf8Bytes, Utf8Bytes);
    if (stem.isEmpty() && counter == 0)
        stem = FallbackFileName;

    const auto numbered = [&stem](qint64 n) {
        return n == 0 ? stem : stem + u'[' + ZeroPadded(n, 3) + u']';
    };
    QString finalName = numbered(counter);
    while (isTaken(base + fileOf(finalName))) {
        ++counter;
        finalName = numbered(counter);
    }
    return {finalName, base + fileOf(finalName)};
}

QString UniqueFilePath(const QString& path) {
    if (!AnythingExists(path))
        return path;
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0)
        return path;
    const QString folder = path.left(slash + 1);
    const QString file = path.mid(slash + 1);
    const qsizetype dot = file.lastIndexOf(u'.');
    QString stem = dot < 0 ? file : file.left(dot);
    const QString extension = dot < 0 ? QString() : file.mid(dot + 1);

    stem = LeftWhole(stem, 100);
    if (stem.endsWith(u']')) {
        const qsizetype open = stem.lastIndexOf(u'[');
        if (open >= 0 && IsDigitsOnly(stem.mid(open + 1, stem.size() - open - 2)))
            stem = stem.left(open);
    }

    const auto withExtension = [&](const QString& s) {
        return extension.isEmpty() ? folder + s : folder + s + u'.' + extension;
    };
    QString candidate = withExtension(stem);
    for (qint64 counter = 1; AnythingExists(candidate); ++counter)
        candidate = withExtension(stem + u'[' + ZeroPadded(counter, 4) + u']');
    return candidate;
}
