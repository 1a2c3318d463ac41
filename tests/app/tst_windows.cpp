#include "app/app_context.h"
#include "app/browser_profile.h"
#include "app/cover_window.h"
#include "scripted_prompter.h"
#include "search/search_window.h"
#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "test_main.h"
#include "tools/about_box.h"
#include "version.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineProfile>

class TestWindows : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    void startWindowOpensTheSearchWindowAndComesBack() {
        SettingsStore store(dir_.filePath(QStringLiteral("s.ini")));
        store.setText(SettingKeys::MaxFileSizeMB(), QStringLiteral("2.5"));
        SharedOptions options;
        QWebEngineProfile* profile = CreateBrowserProfile(this);
        AppContext context{store, options, profile, QStringLiteral("about:blank"), QString()};

        fCover cover(context);
        cover.show();
        QCOMPARE(cover.windowTitle(), QStringLiteral("Quillmarsh"));
        QCOMPARE(cover.Label2->text(), QStringLiteral("版本:" QUILLMARSH_VERSION_TEXT));
        QVERIFY(!cover.Label3->isVisible());
        QVERIFY(cover.Timer1->isSingleShot());
        QCOMPARE(cover.Timer1->interval(), 100);
        QCOMPARE(options.MaxFileSizeMB, 2.5);
        QVERIFY(!context.OSName.isEmpty());
        QCOMPARE(cover.Command1->text(), QStringLiteral("资料检索下载"));
        QCOMPARE(cover.Command3->text(), QStringLiteral("退出软件"));

        cover.Command1->click();
        QVERIFY(!cover.isVisible());
        QPointer<fWebSearch> search = cover.searchWindow();
        QVERIFY(search);
        QVERIFY(search->isVisible());
        QVERIFY(!search->parentWidget());
        search->close();
        QVERIFY(cover.isVisible());
        QTRY_VERIFY(search.isNull());
    }

    void aboutBoxShowsTheVersionAndReportsAMissingTool() {
        ScriptedPrompter prompter;
        frmAbout about(nullptr, &prompter);
        QCOMPARE(about.windowTitle(), QStringLiteral("关于『Quillmarsh』 "));
        QCOMPARE(about.lsoftname->text(), QStringLiteral("Quillmarsh"));
        QCOMPARE(about.lblVersion->text(), QStringLiteral("版本 " QUILLMARSH_VERSION_TEXT));
        QCOMPARE(about.cmdSysInfo->text(), QStringLiteral("系统信息(&S)..."));
        QCOMPARE(about.cmdOK->text(), QStringLiteral("确定"));

        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(dir_.path()));
        about.cmdSysInfo->click();
        qputenv("PATH", path);
        QCOMPARE(prompter.messages(), QStringList{QStringLiteral("此时系统信息不可用")});
        QCOMPARE(prompter.shown.first().icon, Prompter::Icon::None);
    }
};

QM_TEST_WIDGETS_MAIN(TestWindows)
#include "tst_windows.moc"
