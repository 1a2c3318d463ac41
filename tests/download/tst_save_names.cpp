#include "download/save_names.h"
#include "scripted_prompter.h"
#include "settings/settings_keys.h"
#include "test_main.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

void Touch(const QString& path) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

// A name is safe when joining it to a folder cannot leave that folder.
bool IsSafeName(const QString& name) {
    return !name.contains(u'/') && !name.contains(u'\\') && name != u"." && name != u".." &&
           !name.startsWith(u'.') && name.toUtf8().size() <= MaxNameUtf8Bytes;
}

} // namespace

class TestSaveNames : public QObject {
    Q_OBJECT

private slots:
    void sanitizeRemovesReservedCharactersAndDots() {
        QCOMPARE(SanitizeFileName(QStringLiteral("..A: report?..")), QStringLiteral("A report"));
        QCOMPARE(SanitizeFileName(QStringLiteral("a\\b/c*d\"e<f>g|h")), QStringLiteral("abcdefgh"));
        QCOMPARE(SanitizeFileName(QStringLiteral("line\r\none\ntwo\rthree")),
                 QStringLiteral("lineonetwothree"));
        QCOMPARE(SanitizeFileName(QStringLiteral("  spaced  name  ")),
                 QStringLiteral("spaced  name"));
        QCOMPARE(SanitizeFileName(QStringLiteral("v1.2 final")), QStringLiteral("v1.2 final"));
        QCOMPARE(SanitizeFileName(QString()), QString());
    }

    void sanitizeCutsLongNamesWithoutSplittingCharacters() {
        // 300 Chinese characters: 250 fit the 500-byte code-page cut, and the
        // 200-byte UTF-8 cap keeps 66 (3 bytes each).
        const QString chinese = QString(300, QChar(0x6587));
        const QString cut = SanitizeFileName(chinese);
        QCOMPARE(cut, QString(66, QChar(0x6587)));

        const QString ascii = QString(600, u'a');
        QCOMPARE(SanitizeFileName(ascii), QString(MaxNameUtf8Bytes, u'a'));

        // The 500-byte code-page cut decides when leading spaces (trimmed only after
        // it) use up most of it: what is left is counted in GB18030 bytes, 2 for
        // "é" and "文", 4 for a character outside the BMP.
        const QString spaces(400, u' ');
        QCOMPARE(SanitizeFileName(spaces + QString(100, QChar(0xE9))), QString(50, QChar(0xE9)));
        QCOMPARE(SanitizeFileName(spaces + QString(100, QChar(0x6587))),
                 QString(50, QChar(0x6587)));
        QString faces;
        for (int i = 0; i < 100; ++i)
            faces += QStringLiteral("😀");
        QCOMPARE(SanitizeFileName(spaces + faces), faces.left(50));

        // Mixed widths: never a broken character or a lone surrogate at the end.
        QString mixed;
        for (int i = 0; i < 150; ++i)
            mixed += QStringLiteral("a文😀");
        const QString m = SanitizeFileName(mixed);
        QVERIFY(m.toUtf8().size() <= MaxNameUtf8Bytes);
        QVERIFY(!m.isEmpty());
        QVERIFY(!m.back().isHighSurrogate());
        QCOMPARE(QString::fromUtf8(m.toUtf8()), m);

        // Lone surrogates (a page script's string can hold them) are dropped: counted
        // as one byte each, they reached the disk as three and a 200-byte name was
        // too long for any folder.
        QString lone = QStringLiteral("x");
        for (int i = 0; i < 150; ++i)
            lone += QChar(0xDEDE);
        lone += QStringLiteral("y😀");
        QCOMPARE(SanitizeFileName(lone), QStringLiteral("xy😀"));
        // A byte order mark (a page's text can start with one) would not survive the
        // name's trip to the disk and back.
        QCOMPARE(SanitizeFileName(QStringLiteral("\uFEFF标题\uFEFF.x")), QStringLiteral("标题.x"));
        QTemporaryDir dir;
        ScriptedPrompter prompter;
        lone = QString(60, u'z') + QString(140, QChar(0xDBDB));
        QCOMPARE(EnsureFolder(dir.path() + u'/' + lone, prompter),
                 dir.path() + u'/' + QString(60, u'z'));
    }

    void sanitizedHostileTitlesStayInsideTheirFolder_data() {
        QTest::addColumn<QString>("title");
        QTest::newRow("traversal") << QStringLiteral("../../etc/passwd");
        QTest::newRow("dotdot") << QStringLiteral("..");
        QTest::newRow("dot") << QStringLiteral(".");
        QTest::newRow("only dots") << QStringLiteral("........");
        QTest::newRow("dots and spaces") << QStringLiteral(" . . . ");
        QTest::newRow("space then dot") << QStringLiteral(" .hidden");
        QTest::newRow("control") << QStringLiteral("a\x01\x02\tb\x1b[31m\x7f");
        QTest::newRow("nul") << QString::fromUtf16(u"x\u0000y", 3);
        QTest::newRow("chinese 300") << QString(300, QChar(0x4E2D));
        QTest::newRow("ascii 600") << QString(600, u'z');
        QTest::newRow("backslash traversal") << QStringLiteral("..\\..\\windows");
        QTest::newRow("absolute") << QStringLiteral("/etc/shadow");
    }
    void sanitizedHostileTitlesStayInsideTheirFolder() {
        QFETCH(QString, title);
        const QString name = SanitizeFileName(title);
        QVERIFY2(IsSafeName(name), qPrintable(name));
        for (QChar c : name)
            QVERIFY(c.unicode() >= 0x20 && c.unicode() != 0x7F);

        QTemporaryDir dir;
        const SaveTarget target =
            重命名保存路径(dir.path(), name, QStringLiteral("pdf"), DuplicateNamePolicies::Rename);
        QCOMPARE(QFileInfo(target.path).absolutePath(), QDir(dir.path()).absolutePath());
    }

    void ensureFolderCreatesCleanedChain() {
        QTemporaryDir dir;
        ScriptedPrompter prompter;
        const QString made = EnsureFolder(dir.path() + QStringLiteral("/one/<b>/two/"), prompter);
        QCOMPARE(made, dir.path() + QStringLiteral("/one/b/two"));
        QVERIFY(QFileInfo(made).isDir());
        QVERIFY(prompter.shown.isEmpty());

        // An existing chain is returned as it is.
        QCOMPARE(EnsureFolder(made, prompter), made);

        // Folders the user has are used as they are, dots and all; only the parts
        // still to be made are cleaned.
        const QString hidden = dir.path() + QStringLiteral("/.local/share");
        QVERIFY(QDir().mkpath(hidden));
        QCOMPARE(EnsureFolder(hidden + QStringLiteral("/papers/"), prompter),
                 hidden + QStringLiteral("/papers"));
        QVERIFY(QFileInfo(hidden + QStringLiteral("/papers")).isDir());
        QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/local")));
        QCOMPARE(EnsureFolder(hidden + QStringLiteral("/.new:one"), prompter),
                 hidden + QStringLiteral("/newone"));
        QVERIFY(prompter.shown.isEmpty());
    }

    void ensureFolderRefusesPartsThatCleanToNothing() {
        QTemporaryDir dir;
        ScriptedPrompter prompter;
        // ".." must never climb out: the walk stops with the message.
        const QString made = EnsureFolder(dir.path() + QStringLiteral("/a/../b"), prompter);
        QCOMPARE(made, dir.path() + QStringLiteral("/a"));
        QCOMPARE(prompter.messages(),
                 QStringList{QStringLiteral("文件夹名称有误！不能创建文件夹！")});
        QCOMPARE(prompter.shown.first().icon, Prompter::Icon::Critical);
        QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/b")));

        // A folder that cannot be created gives empty text.
        ScriptedPrompter quiet;
        QFile blocker(dir.path() + QStringLiteral("/file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        QCOMPARE(EnsureFolder(dir.path() + QStringLiteral("/file/sub"), quiet), QString());
    }

    void mimeToExtensionFollowsTheTable_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("tiff") << "image/tiff"
                              << "tif";
        QTest::newRow("plain") << "text/plain"
                               << "plain";
        QTest::newRow("upper pdf") << "Application/PDF"
                                   << "pdf";
        QTest::newRow("no slash") << "garbage"
                                  << "garbage";
        QTest::newRow("three parts") << "a/b/c"
                                     << "a/b/c";
        QTest::newRow("octet") << "application/octet-stream"
                               << "";
        QTest::newRow("flash") << "application/x-shockwave-flash"
                               << "swf";
        QTest::newRow("realmedia") << "application/vnd.rn-realmedia"
                                   << "vnd.rn-realmedia";
        QTest::newRow("spaces in minor") << " text / ht ml "
                                         << "html";
        QTest::newRow("x-png") << "image/x-png"
                               << "png";
        QTest::newRow("icon") << "image/x-icon"
                              << "ico";
        QTest::newRow("mpeg4") << "video/mpeg4"
                               << "mp4";
        QTest::newRow("avi") << "video/x-msvideo"
                             << "avi";
        QTest::newRow("wma") << "audio/x-ms-wma"
                             << "wma";
        QTest::newRow("ram") << "audio/x-pn-realaudio"
                             << "ram";
        QTest::newRow("midi") << "audio/midi"
                              << "mid";
        QTest::newRow("star") << "image/*"
                              << "image";
        QTest::newRow("empty minor") << "Video/"
                                     << "video";
        QTest::newRow("unknown minor") << "image/webp"
                                       << "image/webp";
        QTest::newRow("unknown major") << "model/pdf"
                                       << "model/pdf";
    }
    void mimeToExtensionFollowsTheTable() {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(MimeToExtension(input), expected);
    }

    void renamePolicyNumbersFromTheNameItself() {
        QTemporaryDir dir;
        const QString folder = dir.path();
        const QString rename = DuplicateNamePolicies::Rename;

        SaveTarget t =
            重命名保存路径(folder, QStringLiteral("Report"), QStringLiteral("pdf"), rename);
        QCOMPARE(t.name, QStringLiteral("Report"));
        QCOMPARE(t.path, folder + QStringLiteral("/Report.pdf"));

        Touch(folder + QStringLiteral("/Report.pdf"));
        Touch(folder + QStringLiteral("/Report[001].pdf"));
        t = 重命名保存路径(folder + u'/', QStringLiteral("Report"), QStringLiteral("pdf"), rename);
        QCOMPARE(t.name, QStringLiteral("Report[002]"));
        QCOMPARE(t.path, folder + QStringLiteral("/Report[002].pdf"));

        Touch(folder + QStringLiteral("/Report[7].pdf"));
        t = 重命名保存路径(folder, QStringLiteral("Report[7]"), QStringLiteral("pdf"), rename);
        QCOMPARE(t.name, QStringLiteral("Report[007]"));

        Touch(folder + QStringLiteral("/A[x].pdf"));
        t = 重命名保存路径(folder, QStringLiteral("A[x]"), QStringLiteral("pdf"), rename);
        QCOMPARE(t.path, folder + QStringLiteral("/A『x』.pdf"));

        // Skip still proposes the numbered name; only overwrite keeps it.
        t = 重命名保存路径(folder, QStringLiteral("Report"), QStringLiteral("pdf"),
                           DuplicateNamePolicies::Skip);
        QCOMPARE(t.name, QStringLiteral("Report[002]"));
        t = 重命名保存路径(folder, QStringLiteral("Report"), QStringLiteral("pdf"),
                           DuplicateNamePolicies::Overwrite);
        QCOMPARE(t.path, folder + QStringLiteral("/Report.pdf"));

        // No type: no dot.
        Touch(folder + QStringLiteral("/plain"));
        t = 重命名保存路径(folder, QStringLiteral("plain"), QString(), rename);
        QCOMPARE(t.path, folder + QStringLiteral("/plain[001]"));
    }

    // Names and types as a hostile page or server may make them: whatever comes in,
    // the file lies directly in the folder under a usable name of at most 255 bytes.
    void renamedPathsStayInTheFolderWhateverComesIn() {
        QTemporaryDir dir;
        const QString folder = QDir(dir.path()).absolutePath();
        const auto check = [&](const QString& name, const QString& type, const QString& policy,
                               const std::function<bool(const QString&)>& taken) {
            const SaveTarget t = 重命名保存路径(folder, name, type, policy, taken);
            const QFileInfo file(t.path);
            const QString what =
                name.left(40) + u'|' + type.left(40) + QStringLiteral(" -> ") + t.path;
            QVERIFY2(file.absolutePath() == folder, qPrintable(what));
            QVERIFY2(!file.fileName().startsWith(u'.') && !file.fileName().contains(u'\\'),
                     qPrintable(what));
            QVERIFY2(file.fileName().toUtf8().size() <= 255, qPrintable(what));
            QVERIFY2(!t.name.isEmpty() && !t.name.contains(u'/'), qPrintable(what));
            QVERIFY2(!taken || policy == DuplicateNamePolicies::Overwrite || !taken(t.path),
                     qPrintable(what));
        };
        const auto all = [](const QString&) { return false; };
        // Every plain candidate is taken: only numbered names are free.
        const auto plainTaken = [](const QString& path) { return !path.contains(u'['); };
        const QStringList names = {QStringLiteral("../../etc/passwd"),
                                   QStringLiteral(".."),
                                   QStringLiteral("."),
                                   QString(),
                                   QStringLiteral(" / "),
                                   QString(200, u'['),
                                   QString(200, u']'),
                                   QStringLiteral("R[9223372036854775807]"),
                                   QStringLiteral("R[99999999999999999]"),
                                   QString(70, QChar(0x4E2D)) + QStringLiteral("[12]"),
                                   QStringLiteral("[]"),
                                   QStringLiteral("[5]")};
        const QStringList types = {QStringLiteral("pdf"), QStringLiteral("../x"),
                                   QStringLiteral("/"),   QString(300, u'e'),
                                   QStringLiteral(".."),  QString()};
        for (const QString& name : names) {
            for (const QString& type : types) {
                for (const QString& policy :
                     {DuplicateNamePolicies::Rename, DuplicateNamePolicies::Skip,
                      DuplicateNamePolicies::Overwrite}) {
                    check(name, type, policy, all);
                    check(name, type, policy, plainTaken);
                }
            }
        }

        // A name cleaning to nothing gets the fallback; a bad type is dropped or cut.
        SaveTarget t = 重命名保存路径(folder, QStringLiteral(".."), QStringLiteral("pdf"),
                                      DuplicateNamePolicies::Rename, all);
        QCOMPARE(t.path, folder + u'/' + FallbackFileName + QStringLiteral(".pdf"));
        t = 重命名保存路径(folder, QStringLiteral("a"), QStringLiteral("../.."),
                           DuplicateNamePolicies::Rename, all);
        QCOMPARE(t.path, folder + QStringLiteral("/a"));
        t = 重命名保存路径(folder, QStringLiteral("a"), QString(300, u'e'),
                           DuplicateNamePolicies::Rename, all);
        QCOMPARE(t.path, folder + QStringLiteral("/a.") + QString(MaxTypeUtf8Bytes, u'e'));
        // The largest number there is is not counted on (that would overflow).
        const auto takenAsGiven = [&folder](const QString& name) {
            return [path = folder + u'/' + name + QStringLiteral(".pdf")](const QString& p) {
                return p == path;
            };
        };
        t = 重命名保存路径(folder, QStringLiteral("R[9223372036854775807]"), QStringLiteral("pdf"),
                           DuplicateNamePolicies::Rename,
                           takenAsGiven(QStringLiteral("R[9223372036854775807]")));
        QCOMPARE(t.name, QStringLiteral("R『9223372036854775807』"));
        // Eighteen digits still count.
        t = 重命名保存路径(folder, QStringLiteral("R[999999999999999998]"), QStringLiteral("pdf"),
                           DuplicateNamePolicies::Rename,
                           takenAsGiven(QStringLiteral("R[999999999999999998]")));
        QCOMPARE(t.name, QStringLiteral("R[999999999999999999]"));
    }

    void uniqueFilePathUsesFourDigitsAndStripsNumericSuffix() {
        QTemporaryDir dir;
        const QString f = dir.path() + u'/';
        QCOMPARE(UniqueFilePath(f + QStringLiteral("paper.htm")), f + QStringLiteral("paper.htm"));

        Touch(f + QStringLiteral("paper.htm"));
        QCOMPARE(UniqueFilePath(f + QStringLiteral("paper.htm")),
                 f + QStringLiteral("paper[0001].htm"));

        Touch(f + QStringLiteral("paper[0003].htm"));
        // paper.htm is taken, so the numbering starts over at 1.
        QCOMPARE(UniqueFilePath(f + QStringLiteral("paper[0003].htm")),
                 f + QStringLiteral("paper[0001].htm"));
        Touch(f + QStringLiteral("paper[0001].htm"));
        QCOMPARE(UniqueFilePath(f + QStringLiteral("paper[0003].htm")),
                 f + QStringLiteral("paper[0002].htm"));

        Touch(f + QStringLiteral("solo[0009]"));
        QCOMPARE(UniqueFilePath(f + QStringLiteral("solo[0009]")), f + QStringLiteral("solo"));

        // A folder in the way counts as taken; long stems are cut to 100 characters.
        QDir(f).mkdir(QStringLiteral("dir.x"));
        QCOMPARE(UniqueFilePath(f + QStringLiteral("dir.x")), f + QStringLiteral("dir[0001].x"));
        const QString longStem(150, u'n');
        Touch(f + longStem + QStringLiteral(".pdf"));
        QCOMPARE(UniqueFilePath(f + longStem + QStringLiteral(".pdf")),
                 f + QString(100, u'n') + QStringLiteral(".pdf"));
        // The cut never splits a character written as two units: the name would
        // reach the disk with U+FFFD and no longer be the one the row holds.
        const QString emojiStem = QString(99, u'a') + QStringLiteral("😀x");
        Touch(f + emojiStem + QStringLiteral(".htm"));
        const QString unique = UniqueFilePath(f + emojiStem + QStringLiteral(".htm"));
        QCOMPARE(unique, f + QString(99, u'a') + QStringLiteral(".htm"));
        Touch(unique);
        QVERIFY(QFileInfo::exists(unique));
        const QString twoEmoji = f + QString(98, u'a') + QStringLiteral("😀😀.htm");
        Touch(twoEmoji);
        QCOMPARE(UniqueFilePath(twoEmoji), f + QString(98, u'a') + QStringLiteral("😀.htm"));
    }
};

QM_TEST_GUILESS_MAIN(TestSaveNames)
#include "tst_save_names.moc"
