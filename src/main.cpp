#include "app/app_context.h"
#include "app/browser_profile.h"
#include "app/cover_window.h"
#include "app/site_config.h"
#include "app/start_options.h"
#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "storage/list_store.h"
#include "tools/quiet_startup.h"
#include "tools/time_limits.h"
#include "tools/window_helpers.h"
#include "version.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QWebEngineProfile>

#include <unistd.h>

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("Quillmarsh"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLMARSH_VERSION_TEXT));
    // --help and --version must work where no window can open, so the command
    // line is read before the GUI starts.
    StartCommandLine commandLine;
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (const auto status = commandLine.answerBeforeGui(arguments))
        return *status;

    EnsureRuntimeFolder();
    SilenceEngineStartupNotes();
    // The page engine refuses to start its sandbox as root (a root session, a container).
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QStringLiteral(QUILLMARSH_APP_ID));
    QIcon icon = QIcon::fromTheme(QStringLiteral(QUILLMARSH_APP_ID));
    if (icon.isNull()) {
        for (int size : {16, 24, 32, 48, 64, 128, 256})
            icon.addFile(QStringLiteral(":/icons/%1x%1/apps/" QUILLMARSH_APP_ID ".png").arg(size));
    }
    QApplication::setWindowIcon(icon);
    commandLine.process(QCoreApplication::arguments());

    SettingsStore store;
    SharedOptions options;
    // The lists as they were when the program last ran (read on the store's thread
    // while the rest starts up is quick: 100,000 tasks take well under a second).
    ListStore lists;
    lists.open(ListStore::DefaultPath());
    QWebEngineProfile* profile = CreateBrowserProfile();
    AppContext context{store,     options,
                       profile,   commandLine.homeUrl(SiteConfig::DatabaseHomeUrl),
                       QString(), commandLine.updateUrl(QStringLiteral(QUILLMARSH_UPDATE_URL)),
                       &lists};

    int status = 0;
    {
        fCover cover(context);
        cover.show();
        if (!lists.notice().isEmpty())
            QMessageBox::warning(&cover, WindowCaption(QStringLiteral("列表")), lists.notice());
        status = app.exec();
        // Every page must be gone before the profile they use.
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget* w : windows) {
            if (w != &cover && !w->parentWidget())
                delete w;
        }
    }
    delete profile;
    store.sync();
    if (!lists.flush(TimeLimits::StoreFlushWait))
        QMessageBox::critical(nullptr, WindowCaption(QStringLiteral("列表")),
                              QStringLiteral("列表最近的修改未能保存到磁盘：") + lists.problem());
    return status;
}
