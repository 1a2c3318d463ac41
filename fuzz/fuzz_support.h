#pragma once

// Helpers shared by the fuzz targets.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

// Stops the run with a message: libFuzzer keeps the input that got here.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

inline QByteArray TakeBytes(FuzzedDataProvider& in, size_t maxLength) {
    const std::string s = in.ConsumeRandomLengthString(maxLength);
    return QByteArray(s.data(), qsizetype(s.size()));
}

// Text as a page or a server may send it: UTF-8, or raw UTF-16 with lone
// surrogates and every other code unit possible.
inline QString TakeText(FuzzedDataProvider& in, size_t maxLength) {
    const bool utf16 = in.ConsumeBool();
    const QByteArray bytes = TakeBytes(in, maxLength);
    if (!utf16)
        return QString::fromUtf8(bytes);
    return QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2);
}

// One component of a path the program writes.
inline void CheckPathComponent(const QString& c) {
    FUZZ_CHECK(!c.isEmpty());
    FUZZ_CHECK(c != u"." && c != u"..");
    FUZZ_CHECK(!c.contains(u'/') && !c.contains(QChar(0)));
    FUZZ_CHECK(c.toUtf8().size() <= 255);
    // What reaches the disk is what was counted: no lone surrogate.
    FUZZ_CHECK(QString::fromUtf8(c.toUtf8()) == c);
}

// A folder of its own for this process, on a memory file system when there is one,
// made with a name nobody could have planted a link under beforehand.
// The path lives until the process is gone: the exit handler that removes the
// folder runs after static objects are destroyed.
inline const QString& ScratchFolder() {
    static const QString* const folder = [] {
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                                       : QDir::tempPath();
        QByteArray pattern = QFile::encodeName(base + QStringLiteral("/quillmarsh-fuzz-XXXXXX"));
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        auto* path = new QString(QFile::decodeName(pattern));
        std::atexit([] { QDir(ScratchFolder()).removeRecursively(); });
        return path;
    }();
    return *folder;
}
