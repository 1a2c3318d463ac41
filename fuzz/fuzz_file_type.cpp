// The file-type detector on arbitrary content, and on arbitrary heads and tails
// of files of any claimed size. Whatever the bytes, the answer is one of the known
// words or nothing, and reading a real file gives what its bytes give.
#include "download/file_type.h"
#include "fuzz_support.h"

#include <QFile>
#include <QSet>

namespace {

bool IsKnownWord(const QString& type) {
    static const QSet<QString> words = {
        QStringLiteral("pdf"), QStringLiteral("caj"),  QStringLiteral("kdh"), QStringLiteral("nh"),
        QStringLiteral("tif"), QStringLiteral("rtf"),  QStringLiteral("exe"), QStringLiteral("rar"),
        QStringLiteral("zip"), QStringLiteral("docx"), QStringLiteral("swf"), QStringLiteral("rm"),
        QStringLiteral("wma"), QStringLiteral("mp3"),  QStringLiteral("png"), QStringLiteral("gif"),
        QStringLiteral("jpg"), QStringLiteral("doc"),  QStringLiteral("xls"), QStringLiteral("ppt"),
        QStringLiteral("htm"), QStringLiteral("caa")};
    return type.isEmpty() || words.contains(type);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    // The input as a whole file, in memory and on disk.
    const QString fromBytes = FileTypeFromBytes(bytes.left(FileTypeHeadBytes),
                                                bytes.right(FileTypeTailBytes), bytes.size());
    FUZZ_CHECK(IsKnownWord(fromBytes));
    const QString path = ScratchFolder() + QStringLiteral("/sample");
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes) == bytes.size());
    file.close();
    FUZZ_CHECK(打开文件判断文件类型(path) == fromBytes);

    // A head and a tail of a file whose size is whatever the input says: larger,
    // smaller, negative.
    FuzzedDataProvider in(data, size);
    const qint64 claimedSize = in.ConsumeBool() ? in.ConsumeIntegral<qint64>()
                                                : in.ConsumeIntegralInRange<qint64>(0, 300000);
    const QByteArray head = TakeBytes(in, size_t(FileTypeHeadBytes) + 64);
    const std::vector<char> rest = in.ConsumeRemainingBytes<char>();
    const QByteArray tail(rest.data(), qsizetype(rest.size()));
    FUZZ_CHECK(IsKnownWord(FileTypeFromBytes(head, tail, claimedSize)));
    return 0;
}
