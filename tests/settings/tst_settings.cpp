#include "settings/folder_history.h"
#include "settings/geometry_rules.h"
#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "test_main.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

class TestSettings : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString ini(const QString& name) { return dir_.filePath(name + QStringLiteral(".ini")); }

    static QByteArray readAll(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void firstRunGivesTheDefaults() {
        SettingsStore store(ini(QStringLiteral("empty")));
        SharedOptions options;
        options.loadForStartWindow(store);
        options.loadForSearchWindow(store);
        options.loadForDownloadWindow(store);
        options.loadDownloadFolder(store);
        QCOMPARE(options.DownloadMethod, 2);
        QCOMPARE(options.ProxyEnabled, 0);
        QCOMPARE(options.ProxyAddress, QString());
        QCOMPARE(options.MaxFileSizeMB, 10.0);
        QCOMPARE(options.PromptSaveFolder, 1);
        QCOMPARE(options.DuplicateNamePolicy, QStringLiteral("重命名"));
        QCOMPARE(options.DownloadFolder, QDir::homePath() + QStringLiteral("/12345/"));
        QCOMPARE(store.integer(SettingKeys::ThreadIndex()), 2);
        QCOMPARE(store.integer(SettingKeys::CopyOperation()), 4);
        QCOMPARE(options.UseOriginalFileName, false);
        QCOMPARE(options.FolderChooserCancelled, false);
    }

    void storedValuesRoundTripThroughTheFile() {
        const QString path = ini(QStringLiteral("roundtrip"));
        {
            SettingsStore store(path);
            SharedOptions options;
            options.DownloadMethod = 1;
            options.ProxyEnabled = 1;
            options.ProxyAddress = QStringLiteral("proxy.example");
            options.ProxyPort = QStringLiteral("8080");
            options.MaxFileSizeMB = 2.5;
            options.PromptSaveFolder = 0;
            options.saveOptions(store);
            store.setText(SettingKeys::DuplicateNamePolicy(), QStringLiteral(" 覆盖 "));
            store.setText(SettingKeys::DownloadFolder(), QStringLiteral("/data/papers"));
            store.sync();
        }
        SettingsStore store(path);
        SharedOptions options;
        options.loadForDownloadWindow(store);
        options.loadForSearchWindow(store);
        options.loadDownloadFolder(store);
        QCOMPARE(options.DownloadMethod, 1);
        QCOMPARE(options.ProxyEnabled, 1);
        QCOMPARE(options.ProxyAddress, QStringLiteral("proxy.example"));
        QCOMPARE(options.ProxyPort, QStringLiteral("8080"));
        QCOMPARE(options.MaxFileSizeMB, 2.5);
        QCOMPARE(options.PromptSaveFolder, 0);
        QCOMPARE(options.DuplicateNamePolicy, QStringLiteral("覆盖"));
        QCOMPARE(options.DownloadFolder, QStringLiteral("/data/papers/"));
        // Stored as decimal text under the Chinese section and key names.
        QCOMPARE(store.text(SettingKeys::DownloadMethod()), QStringLiteral("1"));
        QCOMPARE(store.text(SettingKeys::MaxFileSizeMB()), QStringLiteral("2.5"));
    }

    void valuesThatDoNotConvertCountAsAbsent() {
        SettingsStore store(ini(QStringLiteral("broken")));
        store.setText(SettingKeys::DownloadMethod(), QStringLiteral("three"));
        store.setText(SettingKeys::ProxyEnabled(), QStringLiteral("7"));
        store.setText(SettingKeys::MaxFileSizeMB(), QStringLiteral("lots"));
        store.setText(SettingKeys::PromptSaveFolder(), QString());
        store.setText(SettingKeys::DuplicateNamePolicy(), QStringLiteral("删除"));
        store.setText(SettingKeys::DownloadFolder(), QStringLiteral("   "));
        SharedOptions options;
        options.loadForDownloadWindow(store);
        options.loadForSearchWindow(store);
        options.loadDownloadFolder(store);
        QCOMPARE(options.DownloadMethod, 2);
        QCOMPARE(options.ProxyEnabled, 0);
        QCOMPARE(options.MaxFileSizeMB, 10.0);
        QCOMPARE(options.PromptSaveFolder, 1);
        QCOMPARE(options.DuplicateNamePolicy, QStringLiteral("重命名"));
        QCOMPARE(options.DownloadFolder, QDir::homePath() + QStringLiteral("/12345/"));
        store.setText(SettingKeys::ThreadIndex(), QStringLiteral("9"));
        QCOMPARE(store.integerInRange(SettingKeys::ThreadIndex(), 0, 5), 2);
    }

    void thePerUserStoreLivesInTheIsolatedConfigFolder() {
        SettingsStore store;
        QVERIFY(store.fileName().startsWith(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"))));
        QVERIFY(store.fileName().endsWith(QStringLiteral("Quillmarsh/Quillmarsh.ini")));
    }

    void geometryRestoresWithTheClampingRules() {
        SettingsStore store(ini(QStringLiteral("geometry")));
        const QString w = QStringLiteral("fFileDownload");
        // Never stored: maximised.
        QVERIFY(PlanRestoreGeometry(store, w, QStringLiteral("1920*1080")).maximise);

        RecordGeometry(store, w, false, QRect(20, 10, 700, 500), QStringLiteral("1920*1080"));
        QCOMPARE(store.text(SettingKeys::GeometryTop(w)), QStringLiteral("150"));
        QCOMPARE(store.text(SettingKeys::GeometryLeft(w)), QStringLiteral("300"));
        QCOMPARE(store.text(SettingKeys::GeometryWidth(w)), QStringLiteral("10500"));
        GeometryPlan plan = PlanRestoreGeometry(store, w, QStringLiteral("1920*1080"));
        QVERIFY(!plan.maximise);
        QCOMPARE(plan.pixels, QRect(20, 10, 700, 500));
        // Another screen size: maximised.
        QVERIFY(PlanRestoreGeometry(store, w, QStringLiteral("1280*1024")).maximise);

        // Closing maximised keeps the last normal geometry.
        RecordGeometry(store, w, true, QRect(0, 0, 1, 1), QStringLiteral("1920*1080"));
        QCOMPARE(store.text(SettingKeys::GeometryResolution(w)), QStringLiteral("0*0"));
        QCOMPARE(store.text(SettingKeys::GeometryWidth(w)), QStringLiteral("10500"));

        store.setText(SettingKeys::GeometryResolution(w), QStringLiteral("1920*1080"));
        store.setText(SettingKeys::GeometryTop(w), QStringLiteral("-500"));
        store.setText(SettingKeys::GeometryLeft(w), QStringLiteral("-1"));
        store.setText(SettingKeys::GeometryWidth(w), QStringLiteral("1000"));
        store.setText(SettingKeys::GeometryHeight(w), QStringLiteral("x"));
        plan = PlanRestoreGeometry(store, w, QStringLiteral("1920*1080"));
        QCOMPARE(plan.pixels, QRect(0, 0, 4000 / 15 + 1, 10000 / 15 + 1));
    }

    void folderHistoryFileFormat() {
        const QString path = dir_.filePath(QStringLiteral("SaveList.dat"));
        QStringList list{QStringLiteral("keep")};
        LoadFolderHistory(list, path);
        QCOMPARE(list, QStringList{QStringLiteral("keep")});

        QVERIFY(
            SaveFolderHistory({QStringLiteral("/home/u/论文"), QStringLiteral("/tmp/a")}, path));
        QCOMPARE(readAll(path), QByteArray("/home/u/\xe8\xae\xba\xe6\x96\x87\r\n/tmp/a\r\n"));

        QVERIFY(SaveFolderHistory({}, path));
        QCOMPARE(readAll(path), QByteArray("\r\n"));
        list = {QStringLiteral("old")};
        LoadFolderHistory(list, path);
        QVERIFY(list.isEmpty());

        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("  /Data/A  \r\n\r\n   \r\n/data/a\r\n/data/b\n");
        for (int i = 0; i < 150; ++i)
            f.write(QStringLiteral("/f%1\r\n").arg(i).toUtf8());
        f.close();
        LoadFolderHistory(list, path);
        // 100 non-empty lines are looked at: 2 duplicates-aside entries plus /f0../f96.
        QCOMPARE(list.first(), QStringLiteral("/Data/A"));
        QCOMPARE(list.at(1), QStringLiteral("/data/b"));
        QCOMPARE(list.size(), 2 + 97);
        QCOMPARE(list.last(), QStringLiteral("/f96"));
    }

    void historyPathIsInTheDataFolder() {
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QCOMPARE(FolderHistoryPath(), data + QStringLiteral("/SaveList.dat"));
        QVERIFY(QFileInfo(data).isDir());
    }
};

QM_TEST_GUI_MAIN(TestSettings)
#include "tst_settings.moc"
