#include "app/app_context.h"
#include "app/browser_profile.h"
#include "app/cover_window.h"
#include "app/site_config.h"
#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QWebEngineProfile>

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmarsh"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLMARSH_VERSION_TEXT));
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("EI 文献检索与批量下载"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption homeUrl(
        QStringLiteral("home-url"),
        QStringLiteral("Open URL as the database home page for this run."), QStringLiteral("URL"));
    parser.addOption(homeUrl);
    parser.process(app);

    SettingsStore store;
    SharedOptions options;
    QWebEngineProfile* profile = CreateBrowserProfile();
    AppContext context{store, options, profile,
                       parser.isSet(homeUrl) ? parser.value(homeUrl) : SiteConfig::DatabaseHomeUrl,
                       QString()};

    int status = 0;
    {
        fCover cover(context);
        cover.show();
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
    return status;
}
