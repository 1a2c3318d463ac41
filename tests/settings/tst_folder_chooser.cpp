#include "scripted_prompter.h"
#include "settings/folder_chooser.h"
#include "settings/folder_history.h"
#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "test_main.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

class TestFolderChooser : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    static QByteArray historyBytes() {
        QFile f(FolderHistoryPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void firstUseCreatesTheDefaultFolder() {
        SettingsStore store(dir_.filePath(QStringLiteral("first.ini")));
        SharedOptions options;
        ScriptedPrompter prompter;
        fSeleFileSavePath chooser(options, store, &prompter);
        QCOMPARE(chooser.windowTitle(), QStringLiteral("选择下载保存路径-Quillmarsh"));
        QVERIFY(chooser.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(chooser.Option2->isChecked());
        QCOMPARE(chooser.Combo1->currentText(), QDir::homePath() + QStringLiteral("/12345"));
        QCOMPARE(chooser.Combo1->count(), 0);

        chooser.Command2->click();
        QCOMPARE(chooser.result(), int(QDialog::Accepted));
        QVERIFY(QFileInfo(QDir::homePath() + QStringLiteral("/12345")).isDir());
        QCOMPARE(options.DownloadFolder, QDir::homePath() + QStringLiteral("/12345/"));
        QCOMPARE(store.text(SettingKeys::DownloadFolder()),
                 QDir::homePath() + QStringLiteral("/12345/"));
        QVERIFY(!options.FolderChooserCancelled);
        QVERIFY(!options.UseOriginalFileName);
        QCOMPARE(historyBytes(), (QDir::homePath() + QStringLiteral("/12345\r\n")).toUtf8());
    }

    void acceptingCreatesEachLevelAndKeepsHistory() {
        QFile::remove(FolderHistoryPath());
        SettingsStore store(dir_.filePath(QStringLiteral("accept.ini")));
        SharedOptions options;
        options.UseOriginalFileName = true;
        ScriptedPrompter prompter;
        const QString target = dir_.filePath(QStringLiteral("Papers/EI"));
        for (int round = 0; round < 2; ++round) {
            fSeleFileSavePath chooser(options, store, &prompter);
            QVERIFY(chooser.Option1->isChecked());
            chooser.Combo1->setCurrentText(target);
            chooser.Command2->click();
            QCOMPARE(options.DownloadFolder, target + u'/');
        }
        QVERIFY(QFileInfo(target).isDir());
        QVERIFY(options.UseOriginalFileName);
        // Accepting twice writes two lines; the next opening lists the folder once.
        QCOMPARE(historyBytes(),
                 (target + QStringLiteral("\r\n") + target + QStringLiteral("\r\n")).toUtf8());
        fSeleFileSavePath again(options, store, &prompter);
        QCOMPARE(again.Combo1->count(), 1);
        QCOMPARE(again.Combo1->currentText(), target + u'/');
    }

    void badFoldersKeepTheDialogOpen() {
        SettingsStore store(dir_.filePath(QStringLiteral("bad.ini")));
        SharedOptions options;
        options.DownloadFolder = QStringLiteral("/kept/");
        ScriptedPrompter prompter;
        fSeleFileSavePath chooser(options, store, &prompter);
        chooser.show();
        QFile blocker(dir_.filePath(QStringLiteral("plainfile")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        chooser.Combo1->setCurrentText(dir_.filePath(QStringLiteral("plainfile/sub")));
        chooser.Command2->click();
        QCOMPARE(prompter.messages(), QStringList{QStringLiteral("文件夹设置错误！")});
        QCOMPARE(prompter.shown.last().icon, Prompter::Icon::Critical);
        QVERIFY(chooser.isVisible());
        QCOMPARE(chooser.Combo1->currentText(), QString());
        QVERIFY(!store.text(SettingKeys::DownloadFolder()).startsWith(dir_.path()));

        // Cancel changes nothing but the flag.
        const QString before = options.DownloadFolder;
        chooser.Command3->click();
        QVERIFY(options.FolderChooserCancelled);
        QCOMPARE(options.DownloadFolder, before);
    }

    // The folder taken is exactly the one typed, or the dialog stays open and says why.
    void typedFoldersAreTakenExactlyOrRefused() {
        SettingsStore store(dir_.filePath(QStringLiteral("typed.ini")));
        SharedOptions options;
        ScriptedPrompter prompter;
        const auto accept = [&](const QString& text) {
            fSeleFileSavePath chooser(options, store, &prompter);
            chooser.show();
            chooser.Combo1->setCurrentText(text);
            chooser.Command2->click();
            return chooser.isVisible() ? QString() : options.DownloadFolder;
        };
        QCOMPARE(accept(QStringLiteral("  ") + dir_.filePath(QStringLiteral("spaced")) +
                        QStringLiteral("  ")),
                 dir_.filePath(QStringLiteral("spaced/")));
        QCOMPARE(accept(dir_.path() + QStringLiteral("//a//b/./c/..")),
                 dir_.filePath(QStringLiteral("a/b/")));
        QVERIFY(QFileInfo(dir_.filePath(QStringLiteral("a/b"))).isDir());
        QCOMPARE(accept(QStringLiteral("~/papers")), QDir::homePath() + QStringLiteral("/papers/"));
        QVERIFY(QFileInfo(QDir::homePath() + QStringLiteral("/papers")).isDir());
        QVERIFY(!QFileInfo::exists(QDir::current().filePath(QStringLiteral("~"))));
        QCOMPARE(accept(QStringLiteral("~")), QDir::homePath() + u'/');
        QVERIFY(prompter.messages().isEmpty());

        const QString before = options.DownloadFolder;
        // A part that cleans to nothing: not its parent instead.
        QVERIFY(accept(dir_.filePath(QStringLiteral("kept/???/sub"))).isEmpty());
        QCOMPARE(prompter.messages().last(), QStringLiteral("文件夹名称有误！不能创建文件夹！"));
        QVERIFY(!QFileInfo::exists(dir_.filePath(QStringLiteral("kept"))));
        // A relative path would land wherever the program started.
        QVERIFY(accept(QStringLiteral("papers/ei")).isEmpty());
        QVERIFY(prompter.messages().last().contains(QStringLiteral("完整")));
        QVERIFY(accept(QStringLiteral("   ")).isEmpty());
        QCOMPARE(prompter.shown.last().icon, Prompter::Icon::Critical);
        QCOMPARE(prompter.messages().size(), 3);
        QCOMPARE(options.DownloadFolder, before);

        // Folders the user has are used under their own names, odd ones included ...
        QDir home(dir_.path());
        QVERIFY(home.mkpath(QStringLiteral(".hidden")) && home.mkpath(QStringLiteral("odd: name")));
        QCOMPARE(accept(dir_.filePath(QStringLiteral(".hidden/papers"))),
                 dir_.filePath(QStringLiteral(".hidden/papers/")));
        QVERIFY(QFileInfo(dir_.filePath(QStringLiteral(".hidden/papers"))).isDir());
        QCOMPARE(accept(dir_.filePath(QStringLiteral("odd: name"))),
                 dir_.filePath(QStringLiteral("odd: name/")));
        QCOMPARE(prompter.messages().size(), 3);
        // ... but a folder still to be made never gets a name other than the one typed.
        const QString taken = options.DownloadFolder;
        const QList<QPair<QString, QString>> refused = {{".new/papers", ".new"},
                                                        {"Papers: 2024", "Papers: 2024"},
                                                        {"what?", "what?"},
                                                        {"x/trailing.", "trailing."}};
        for (const auto& [typed, part] : refused) {
            QVERIFY2(accept(dir_.filePath(typed)).isEmpty(), qPrintable(typed));
            QVERIFY2(prompter.messages().last().contains(u'“' + part + u'”'), qPrintable(typed));
            QCOMPARE(prompter.shown.last().icon, Prompter::Icon::Critical);
        }
        QCOMPARE(prompter.messages().size(), 3 + refused.size());
        for (const char* cleaned : {"new", ".new", "Papers 2024", "what", "x"})
            QVERIFY2(!QFileInfo::exists(dir_.filePath(QString::fromUtf8(cleaned))), cleaned);
        QCOMPARE(options.DownloadFolder, taken);
    }

    void browsingStartsNearTheTypedFolder() {
        QDir(dir_.path()).mkpath(QStringLiteral("x/y"));
        QCOMPARE(BrowseStartFolder(dir_.filePath(QStringLiteral("x/y/"))),
                 dir_.filePath(QStringLiteral("x/")));
        QCOMPARE(BrowseStartFolder(dir_.filePath(QStringLiteral("x/y"))),
                 dir_.filePath(QStringLiteral("x/")));
        QCOMPARE(BrowseStartFolder(QStringLiteral("  ")), QDir::homePath());
        QCOMPARE(BrowseStartFolder(QStringLiteral("/no/such/place/x")), QDir::homePath());

        SettingsStore store(dir_.filePath(QStringLiteral("browse.ini")));
        SharedOptions options;
        ScriptedPrompter prompter;
        fSeleFileSavePath chooser(options, store, &prompter);
        chooser.Combo1->setCurrentText(QStringLiteral("/some/folder"));
        prompter.queue(QString()); // browser cancelled
        chooser.Command1->click();
        QCOMPARE(chooser.Combo1->currentText(), QStringLiteral("/some/folder/"));
        prompter.queue(dir_.filePath(QStringLiteral("x")));
        chooser.Command1->click();
        QCOMPARE(chooser.Combo1->currentText(), dir_.filePath(QStringLiteral("x/")));
    }
};

QM_TEST_WIDGETS_MAIN(TestFolderChooser)
#include "tst_folder_chooser.moc"
