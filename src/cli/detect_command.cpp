#include "cli/cli_command.h"

#include "download/file_type.h"

#include <QFileInfo>

// quillmarsh-cli detect FILE...: one line a file, the path, a tab and the type word.
int RunDetectCommand(const QStringList& arguments) {
    for (const QString& path : arguments) {
        // The type stays empty, as for an unknown type; the reason goes to stderr.
        const QFileInfo info(path);
        if (!info.isFile() || !info.isReadable())
            PrintTo(
                stderr,
                QStringLiteral("quillmarsh-cli: %1: not a readable file\n").arg(CliField(path)));
        PrintTo(stdout, CliField(path) + u'\t' + 打开文件判断文件类型(path) + u'\n');
    }
    return 0;
}
