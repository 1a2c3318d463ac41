#include "app/start_options.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {

void Print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

StartCommandLine::StartCommandLine()
    : homeUrl_(QStringLiteral("home-url"),
               QStringLiteral("Open URL as the database home page for this run."),
               QStringLiteral("URL"))
    , updateUrl_(QStringLiteral("update-url"),
                 QStringLiteral("Ask URL for the newest version at start (empty: no update "
                                "check) instead of the built-in address."),
                 QStringLiteral("URL")) {
    parser_.setApplicationDescription(QStringLiteral("EI 文献检索与批量下载"));
    // Qt's own options are single-dash words (-reverse, -stylesheet x.qss): read
    // as bundles of letters they would ask for the version or for help.
    parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser_.addHelpOption();
    parser_.addVersionOption();
    parser_.addOption(homeUrl_);
    parser_.addOption(updateUrl_);
}

std::optional<int> StartCommandLine::answerBeforeGui(const QStringList& arguments) {
    // Qt's own options (-platform and the like) are unknown here; only the
    // questions that need no window count in this pass.
    parser_.parse(arguments);
    if (parser_.isSet(QStringLiteral("help")) || parser_.isSet(QStringLiteral("help-all"))) {
        const QString program = QFileInfo(arguments.value(0)).fileName();
        QString help = parser_.helpText();
        help.replace(QStringLiteral("<executable_name>"), program);
        Print(stdout, help);
        return 0;
    }
    if (parser_.isSet(QStringLiteral("version"))) {
        Print(stdout, QCoreApplication::applicationName() + u' ' +
                          QCoreApplication::applicationVersion() + u'\n');
        return 0;
    }
    if (NoDisplayAvailable(arguments)) {
        Print(stderr, QStringLiteral("%1: no display to show windows on (DISPLAY and "
                                     "WAYLAND_DISPLAY are not set)\n")
                          .arg(QFileInfo(arguments.value(0)).fileName()));
        return 1;
    }
    return std::nullopt;
}

void StartCommandLine::process(const QStringList& arguments) {
    parser_.process(arguments);
}

QString StartCommandLine::homeUrl(const QString& fallback) const {
    return parser_.isSet(homeUrl_) ? parser_.value(homeUrl_) : fallback;
}

QString StartCommandLine::updateUrl(const QString& fallback) const {
    return parser_.isSet(updateUrl_) ? parser_.value(updateUrl_) : fallback;
}

bool NoDisplayAvailable(const QStringList& arguments) {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return false;
    for (const QString& argument : arguments) {
        if (argument == u"-platform" || argument == u"--platform" ||
            argument.startsWith(u"-platform=") || argument.startsWith(u"--platform="))
            return false;
    }
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}
