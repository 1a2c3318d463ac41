#include "test_main.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/stat.h>

class TestCliDetect : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString writeBytes(const QString& name, const QByteArray& bytes) {
        const QString path = dir_.filePath(name);
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
        return path;
    }

private slots:
    void reportsTheTypeOfRealFiles() {
        // Files as other programs write them, under misleading names.
        QPdfWriter* pdf = new QPdfWriter(dir_.filePath(QStringLiteral("文章.html")));
        {
            QPainter painter(pdf);
            painter.drawText(100, 100, QStringLiteral("Quillmarsh"));
        }
        delete pdf;

        QImage image(40, 20, QImage::Format_RGB32);
        image.fill(Qt::white);
        QVERIFY(image.save(dir_.filePath(QStringLiteral("picture.pdf")), "PNG"));
        QVERIFY(image.save(dir_.filePath(QStringLiteral("photo.dat")), "JPEG"));
        QVERIFY(image.save(dir_.filePath(QStringLiteral("scan.pdf")), "TIFF"));

        const QString text = writeBytes(QStringLiteral("notes.txt"), QByteArray(5000, 'a'));
        QCOMPARE(QProcess::execute(QStringLiteral("zip"),
                                   {QStringLiteral("-q"), QStringLiteral("-j"),
                                    dir_.filePath(QStringLiteral("bundle.pdf")), text}),
                 0);
        writeBytes(
            QStringLiteral("login.pdf"),
            "<html>\n<head><title>Sign in</title></head>\n<body><form></form></body>\n</html>\n");
        writeBytes(QStringLiteral("doc.rtf"), "{\\rtf1\\ansi Hello}");

        const QStringList files = {
            QStringLiteral("文章.html"),   QStringLiteral("picture.pdf"),
            QStringLiteral("photo.dat"),   QStringLiteral("scan.pdf"),
            QStringLiteral("bundle.pdf"),  QStringLiteral("login.pdf"),
            QStringLiteral("doc.rtf"),     QStringLiteral("notes.txt"),
            QStringLiteral("missing.pdf"),
        };
        const QStringList expected = {QStringLiteral("pdf"),
                                      QStringLiteral("png"),
                                      QStringLiteral("jpg"),
                                      QStringLiteral("tif"),
                                      QStringLiteral("zip"),
                                      QStringLiteral("htm"),
                                      QStringLiteral("rtf"),
                                      QString(),
                                      QString()};
        QStringList paths;
        for (const QString& f : files)
            paths << dir_.filePath(f);
        paths << QStringLiteral(QUILLMARSH_CLI); // an ELF program is no known type
        // Control characters in a name stay inside their field.
        paths << writeBytes(QStringLiteral("two\nlines\t.pdf"),
                            QByteArray("%PDF-1.4\n") + QByteArray(100, 'x'));
        // A named pipe is no file: nothing waits for a writer.
        const QString fifo = dir_.filePath(QStringLiteral("pipe"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        paths << fifo;

        QProcess cli;
        cli.start(QStringLiteral(QUILLMARSH_CLI), QStringList{QStringLiteral("detect")} + paths);
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 0);
        const QStringList lines =
            QString::fromUtf8(cli.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), paths.size());
        for (int i = 0; i < paths.size() - 2; ++i) {
            const QString want = paths.at(i) + u'\t' + expected.value(i);
            QCOMPARE(lines.at(i), want);
        }
        QCOMPARE(lines.at(paths.size() - 2),
                 dir_.filePath(QStringLiteral("two\\nlines\\t.pdf\tpdf")));
        QCOMPARE(lines.at(paths.size() - 1), fifo + u'\t');
        // What has no type because it could not be read says so.
        const QStringList errors =
            QString::fromUtf8(cli.readAllStandardError())
                .split(u'\n', Qt::SkipEmptyParts)
                .filter(QRegularExpression(QStringLiteral("^quillmarsh-cli: ")));
        QCOMPARE(
            errors,
            QStringList({QStringLiteral("quillmarsh-cli: %1: not a readable file")
                             .arg(dir_.filePath(QStringLiteral("missing.pdf"))),
                         QStringLiteral("quillmarsh-cli: %1: not a readable file").arg(fifo)}));
    }

    void unknownCommandFails() {
        QProcess cli;
        cli.start(QStringLiteral(QUILLMARSH_CLI), {QStringLiteral("frobnicate")});
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitCode(), 2);
        QVERIFY(cli.readAllStandardError().contains("unknown command"));
    }
};

QM_TEST_GUI_MAIN(TestCliDetect)
#include "tst_cli_detect.moc"
