#include "download/file_type.h"
#include "test_main.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <limits>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestFileType : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    int counter_ = 0;

    QString write(const QByteArray& bytes) {
        const QString path = dir_.filePath(QStringLiteral("f%1.bin").arg(++counter_));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write(bytes);
        return path;
    }

    QString detect(const QByteArray& bytes) { return 打开文件判断文件类型(write(bytes)); }

    static QByteArray padded(QByteArray bytes, int size = 64) {
        bytes.resize(std::max<qsizetype>(size, bytes.size()), 'x');
        return bytes;
    }

private slots:
    void signaturesInTableOrder_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QString>("type");
        const auto hex = [](const char* h) { return QByteArray::fromHex(h); };
        QTest::newRow("pdf") << hex("255044462D312E34") << "pdf";
        QTest::newRow("caj") << hex("C8000000") << "caj";
        QTest::newRow("CAJ zero is kdh") << hex("43414A00") << "kdh";
        QTest::newRow("KDH space") << hex("4B444820") << "kdh";
        QTest::newRow("nh") << hex("4E480000") << "nh";
        QTest::newRow("tif") << hex("49492A00") << "tif";
        QTest::newRow("rtf") << QByteArray("{\\rtf1") << "rtf";
        QTest::newRow("exe") << QByteArray("MZ") << "exe";
        QTest::newRow("rar") << QByteArray("Rar!") << "rar";
        QTest::newRow("zip deflate") << hex("504B03041400000008") << "zip";
        QTest::newRow("docx flags 06") << hex("504B0304140006000800") << "docx";
        QTest::newRow("zip other flags") << hex("504B0304140008000800") << "";
        QTest::newRow("zip stored") << hex("504B03040A0000000000") << "";
        QTest::newRow("swf") << hex("43575306") << "swf";
        QTest::newRow("rm") << QByteArray(".RMF") << "rm";
        QTest::newRow("wma") << hex("3026B2758E") << "wma";
        QTest::newRow("mp3 id3v2.3") << hex("4944330300") << "mp3";
        QTest::newRow("png") << hex("89504E470D0A1A0A") << "png";
        QTest::newRow("gif literal") << hex("47494638393104") << "gif";
        QTest::newRow("gif89a") << QByteArray("GIF89a") << "gif";
        QTest::newRow("gif87a") << QByteArray("GIF87a") << "gif";
        QTest::newRow("jpg exif motorola")
            << hex("FFD8FFE10018") + QByteArray("Exif") + hex("00004D4D002A") << "jpg";
        QTest::newRow("jpg exif intel")
            << hex("FFD8FFE10018") + QByteArray("Exif") + hex("000049492A00") << "";
        QTest::newRow("jfif") << hex("FFD8FFE000104A464946") << "jpg";
        QTest::newRow("unknown") << QByteArray("hello world") << "";
    }
    void signaturesInTableOrder() {
        QFETCH(QByteArray, head);
        QFETCH(QString, type);
        QCOMPARE(detect(padded(head)), type);
    }

    void officeDocumentsNeedTheirSecondSector() {
        const QByteArray ole = QByteArray::fromHex("D0CF11E0A1B11AE1");
        QByteArray doc = padded(ole, 600);
        doc.replace(512, 4, QByteArray::fromHex("ECA5C100"));
        QCOMPARE(detect(doc), QStringLiteral("doc"));

        QByteArray xls = padded(ole, 600);
        xls.replace(512, 4, QByteArray::fromHex("09081000"));
        QCOMPARE(detect(xls), QStringLiteral("xls"));

        QByteArray ppt = padded(ole, 600);
        ppt[515] = char(0xF0);
        QCOMPARE(detect(ppt), QStringLiteral("ppt"));

        // Nothing known: no further tests run, not even the HTML one.
        QByteArray other = padded(ole, 600);
        other.append("<html><head></head></html>");
        QCOMPARE(detect(other), QString());

        // Shorter than 515 bytes: the sector test reaches past the head buffer.
        QCOMPARE(detect(padded(ole, 500)), QString());
    }

    void aTestReachingPastTheHeadEndsDetection() {
        // The rtf test reads offset 4, before the exe test is reached.
        QCOMPARE(detect("MZx"), QString());
        QCOMPARE(detect("MZxy"), QStringLiteral("exe"));
        // Four bytes are enough for the first six tests.
        QCOMPARE(detect("%PDF"), QStringLiteral("pdf"));
        QCOMPARE(detect(QByteArray()), QString());
        // A tiny HTML page never reaches the HTML rule.
        QCOMPARE(detect("<html>"), QString());
        QCOMPARE(打开文件判断文件类型(dir_.filePath(QStringLiteral("missing"))), QString());
        QCOMPARE(打开文件判断文件类型(dir_.path()), QString());
    }

    void id3v1TagAtTheEnd() {
        QByteArray mp3(4000, '\x55');
        mp3.replace(mp3.size() - 128, 3, "TAG");
        QCOMPARE(detect(mp3), QStringLiteral("mp3"));
        QByteArray noTag(4000, '\x55');
        QCOMPARE(detect(noTag), QString());
        // Exactly 128 bytes: no room for a tag to count.
        QByteArray small(128, '\x55');
        small.replace(0, 3, "TAG");
        QCOMPARE(detect(small), QString());
    }

    // The decision from bytes in hand agrees with the one from the file, and bytes a
    // short head lacks read as 0 instead of being read past its end.
    void bytesInHandDecideAsTheFileDoes() {
        QByteArray mp3(4000, '\x55');
        mp3.replace(mp3.size() - 128, 3, "TAG");
        QCOMPARE(FileTypeFromBytes(mp3.left(FileTypeHeadBytes), mp3.right(FileTypeTailBytes),
                                   mp3.size()),
                 detect(mp3));
        // A tail shorter than a tag, or a file too small for one, has none.
        QCOMPARE(FileTypeFromBytes(mp3.left(100), QByteArrayLiteral("TAG"), mp3.size()), QString());
        QCOMPARE(FileTypeFromBytes(QByteArray(128, 'T'), QByteArray(128, 'T'), 128), QString());
        // A size larger than the head: the missing bytes are zeros ("MZ" + 0 0 is an exe).
        QCOMPARE(FileTypeFromBytes(QByteArrayLiteral("MZ"), {}, 4), QStringLiteral("exe"));
        QCOMPARE(FileTypeFromBytes(QByteArrayLiteral("MZ"), {}, 3), QString());
        // A head longer than the size counts only size bytes; odd sizes find nothing.
        QCOMPARE(FileTypeFromBytes(QByteArrayLiteral("%PDF-1.4"), {}, 2), QString());
        QCOMPARE(FileTypeFromBytes(QByteArrayLiteral("%PDF-1.4"), {}, -5), QString());
        QCOMPARE(FileTypeFromBytes(QByteArrayLiteral("%PDF-1.4"), {},
                                   std::numeric_limits<qint64>::max()),
                 QStringLiteral("pdf"));
        QCOMPARE(FileTypeFromBytes({}, {}, 0), QString());
    }

    void htmlNeedsBothMarkersAndASmallFile() {
        const QByteArray page =
            "<!DOCTYPE html>\n<HTML lang=\"en\"><HEAD><TITLE>Login</TITLE></HEAD>"
            "<BODY>please sign in</BODY></HTML>";
        QCOMPARE(detect(page), QStringLiteral("htm"));
        QCOMPARE(detect("<div>no html element here, just a body: <body></body></div>"), QString());
        QCOMPARE(detect("<html lang=en>only an html element, nothing else at all</html>"),
                 QString());

        // 200 KB and more is never taken for a page.
        QByteArray big = page;
        big.append(QByteArray(200 * 1024, ' '));
        QCOMPARE(detect(big), QString());
        big.chop(big.size() - (200 * 1024 - 1));
        QCOMPARE(detect(big), QStringLiteral("htm"));
    }

    void caaNeedsEveryKeyAndASmallFile() {
        const QByteArray caa =
            "[TARGET]\r\nA1=1\r\nA2=2\r\nB1=3\r\nB2=4\r\nC1=5\r\nC2=6\r\nD1=7\r\n"
            "D2=8\r\nDOCTYPE=9\r\n";
        QCOMPARE(detect(caa), QStringLiteral("caa"));
        QByteArray missing = caa;
        missing.replace("C2=", "C3=");
        QCOMPARE(detect(missing), QString());
        QByteArray big = caa + QByteArray(3 * 1024, ' ');
        QCOMPARE(detect(big), QString());
    }

    void imagesWrittenByQt() {
        QImage image(32, 16, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        const QString png = dir_.filePath(QStringLiteral("real.png"));
        const QString jpg = dir_.filePath(QStringLiteral("real.jpg"));
        QVERIFY(image.save(png, "PNG"));
        QVERIFY(image.save(jpg, "JPEG"));
        QCOMPARE(打开文件判断文件类型(png), QStringLiteral("png"));
        QCOMPARE(打开文件判断文件类型(jpg), QStringLiteral("jpg"));
    }

    void onlyRegularFilesAreOpened() {
        // A named pipe at a row's path would block the window in open() until
        // something writes to it. The writer below ends a wait that should
        // never start, so a regression fails here instead of hanging.
        const QString fifo = dir_.filePath(QStringLiteral("pipe.pdf"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        std::atomic<bool> done = false;
        std::atomic<bool> unblocked = false;
        std::thread writer([&] {
            for (int i = 0; i < 100 && !done; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (done)
                return;
            unblocked = true;
            const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY);
            if (fd >= 0)
                ::close(fd);
        });
        const QString type = 打开文件判断文件类型(fifo);
        done = true;
        writer.join();
        QVERIFY(!unblocked);
        QCOMPARE(type, QString());
        QVERIFY(!IsPdfWithoutEnd(fifo));

        // A link to a file is read as the file; a folder or a device is no file.
        const QString pdf = write(padded("%PDF-1.7\n"));
        const QString link = dir_.filePath(QStringLiteral("link.pdf"));
        QVERIFY(QFile::link(pdf, link));
        QCOMPARE(打开文件判断文件类型(link), QStringLiteral("pdf"));
        QCOMPARE(打开文件判断文件类型(dir_.path()), QString());
        QCOMPARE(打开文件判断文件类型(QStringLiteral("/dev/zero")), QString());
    }
};

QM_TEST_GUI_MAIN(TestFileType)
#include "tst_file_type.moc"
