#include "scripted_prompter.h"
#include "test_main.h"
#include "tools/file_helpers.h"
#include "tools/notify_sound.h"
#include "tools/paths.h"
#include "tools/shell_open.h"
#include "tools/text_utils.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

class TestHelpers : public QObject {
    Q_OBJECT

private slots:
    void splitNameAndType_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "/home/a/paper.pdf"
                               << "pdf"
                               << "paper";
        QTest::newRow("long ext") << "/a/report.download"
                                  << ""
                                  << "report.download";
        QTest::newRow("six") << "x.abcdef"
                             << "abcdef"
                             << "x";
        QTest::newRow("folder dot") << "a.b/c"
                                    << ""
                                    << "c";
        QTest::newRow("double") << "archive.tar.gz"
                                << "gz"
                                << "archive.tar";
        QTest::newRow("spaces") << "  /f/ my paper .pdf  "
                                << "pdf"
                                << "my paper";
        QTest::newRow("empty") << ""
                               << ""
                               << "";
    }
    void splitNameAndType() {
        QFETCH(QString, path);
        QFETCH(QString, type);
        QFETCH(QString, name);
        const NameAndType split = SplitNameAndType(path);
        QCOMPARE(split.type, type);
        QCOMPARE(split.name, name);
    }

    void existenceTests() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("f.txt"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QVERIFY(FileExists(file));
        QVERIFY(!FileExists(dir.path()));
        QVERIFY(FolderExists(dir.path()));
        QVERIFY(!FolderExists(file));
        QVERIFY(!FileExists(QString()));
        QVERIFY(!FolderExists(QString()));
        QVERIFY(!FileExists(dir.filePath(QStringLiteral("nope"))));
        const QString link = dir.filePath(QStringLiteral("dangling"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), link));
        QVERIFY(!FileExists(link));
        QVERIFY(AnythingExists(link));
    }

    void textHelpers() {
        QCOMPARE(TrimSpaces(QStringLiteral("  a b \t\n ")), QStringLiteral("a b \t\n"));
        QVERIFY(IsDigitsOnly(QStringLiteral(" 007 ")));
        QVERIFY(!IsDigitsOnly(QStringLiteral("1.5")));
        QVERIFY(!IsDigitsOnly(QStringLiteral("  ")));
        QCOMPARE(ZeroPadded(7, 3), QStringLiteral("007"));
        QCOMPARE(ZeroPadded(12345, 4), QStringLiteral("12345"));
        QCOMPARE(JoinFilePath(QStringLiteral("/d"), QStringLiteral("n"), QString()),
                 QStringLiteral("/d/n"));
        QCOMPARE(JoinFilePath(QStringLiteral("/d/"), QStringLiteral("n"), QStringLiteral("pdf")),
                 QStringLiteral("/d/n.pdf"));
    }

    void openingAMissingFileSaysSo() {
        ScriptedPrompter prompter;
        OpenFileWithProgram(QStringLiteral("/nonexistent/quillmarsh/x.pdf"), prompter);
        QCOMPARE(prompter.messages(), QStringList{QStringLiteral("文件不存在！")});
        QCOMPARE(prompter.shown.first().icon, Prompter::Icon::Critical);
        QVERIFY(!OpenFolderAndSelect(QStringLiteral("/nonexistent/quillmarsh/x.pdf")));
    }

    void soundsAreWrittenOnceToTheDataFolder() {
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QVERIFY(!QFile::exists(data + QStringLiteral("/102.wav")));

        const QString path = NotifySoundFile(102);
        QCOMPARE(path, data + QStringLiteral("/102.wav"));
        QFile resource(QStringLiteral(":/sounds/102.wav"));
        QVERIFY(resource.open(QIODevice::ReadOnly));
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray bytes = written.readAll();
        QCOMPARE(bytes, resource.readAll());
        QVERIFY(bytes.startsWith("RIFF"));
        written.close();

        // A file the user put there is what plays; it is never overwritten.
        QVERIFY(written.open(QIODevice::WriteOnly));
        written.write("RIFFmine");
        written.close();
        PlayNotifySound(102);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), QByteArray("RIFFmine"));

        QCOMPARE(NotifySoundFile(100), QString());
        QCOMPARE(NotifySoundFile(104), QString());
        for (int n = FirstNotifySound; n <= LastNotifySound; ++n)
            QVERIFY(QFile::exists(NotifySoundFile(n)));
        QElapsedTimer clock;
        clock.start();
        PlayNotifySound(101); // returns at once, whatever the audio system does
        QVERIFY(clock.elapsed() < 2000);
    }
};

QM_TEST_GUI_MAIN(TestHelpers)
#include "tst_helpers.moc"
