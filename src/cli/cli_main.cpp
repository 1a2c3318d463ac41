#include "cli/cli_command.h"

#include "version.h"

#include <QCoreApplication>

#include <map>

namespace {

const char Usage[] = "Usage: quillmarsh-cli COMMAND [ARGUMENTS]\n"
                     "\n"
                     "Commands:\n"
                     "  detect FILE...   print each file's path, a tab and its real type\n"
                     "  --version        print the version\n";

} // namespace

void PrintTo(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillmarsh"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLMARSH_VERSION_TEXT));

    QStringList args = QCoreApplication::arguments().mid(1);
    const std::map<QString, CliCommand> commands = {
        {QStringLiteral("detect"), &RunDetectCommand},
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
