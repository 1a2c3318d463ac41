#include "cli/cli_command.h"

#include "tools/quiet_startup.h"
#include "tools/time_limits.h"
#include "version.h"

#include <QGuiApplication>

#include <map>

#include <unistd.h>

namespace {

const char Usage[] =
    "Usage: quillmarsh-cli COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  detect FILE...   print each file's path, a tab and its real type\n"
    "  parse FILE|URL [--checked-only]\n"
    "                   print the hits of a result page: title, a tab, full-text link\n"
    "  resolve URL...   print each landing page's address, a tab and its PDF address\n"
    "  download [--queue FILE] [--method 1|2] [--threads N] [--dir D]\n"
    "           [--policy 跳过|覆盖|重命名] [--max-mb X] URL...\n"
    "                   download files: state, size, percent, type and path per task;\n"
    "                   with --queue the queue is kept in FILE and a run started again on\n"
    "                   it (URLs optional) carries on where the last one stopped\n"
    "  harvest START_URL [--checked-only] [--dir D] [--original-names] [--method 1|2]\n"
    "          [--threads N]\n"
    "                   every result page, every record, every PDF: one line a record\n"
    "  cache list|clear [--all-users] [--profile DIR] [--homes DIR]\n"
    "                   list or clear the browser cache (cache --help for details)\n"
    "  --version        print the version\n";

} // namespace

QString CliField(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\t')
            out += QStringLiteral("\\t");
        else if (u == u'\n')
            out += QStringLiteral("\\n");
        else if (u == u'\r')
            out += QStringLiteral("\\r");
        else if (u < 0x20 || u == 0x7f)
            out += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

void PrintTo(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

int main(int argc, char* argv[]) {
    // The page engine runs headless here, also as root and without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    EnsureRuntimeFolder();
    SilenceEngineStartupNotes();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillmarsh"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLMARSH_VERSION_TEXT));
    // Every time limit scaled by this factor (tests run the real limits in seconds).
    bool scaled = false;
    const double scale = qEnvironmentVariable("QUILLMARSH_TIME_SCALE").toDouble(&scaled);
    if (scaled && scale > 0)
        TimeLimits::SetScale(scale);

    QStringList args = QCoreApplication::arguments().mid(1);
    const std::map<QString, CliCommand> commands = {
        {QStringLiteral("detect"), &RunDetectCommand},
        {QStringLiteral("parse"), &RunParseCommand},
        {QStringLiteral("download"), &RunDownloadCommand},
        {QStringLiteral("cache"), &RunCacheCommand},
        {QStringLiteral("resolve"), &RunResolveCommand},
        {QStringLiteral("harvest"), &RunHarvestCommand},
    };
    if (args.isEmpty() || args.first() == u"--help" || args.first() == u"-h") {
        std::fputs(Usage, args.isEmpty() ? stderr : stdout);
        return args.isEmpty() ? 2 : 0;
    }
    if (args.first() == u"--version") {
        PrintTo(stdout, QStringLiteral("quillmarsh-cli " QUILLMARSH_VERSION_TEXT "\n"));
        return 0;
    }
    const auto command = commands.find(args.first());
    if (command == commands.end()) {
        PrintTo(stderr,
                QStringLiteral("quillmarsh-cli: unknown command \"%1\"\n").arg(args.first()));
        std::fputs(Usage, stderr);
        return 2;
    }
    args.removeFirst();
    return command->second(args);
}
