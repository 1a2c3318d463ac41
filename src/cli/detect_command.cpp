#include "cli/cli_command.h"

#include "download/file_type.h"

// quillmarsh-cli detect FILE...: one line a file, the path, a tab and the type word.
int RunDetectCommand(const QStringList& arguments) {
    for (const QString& path : arguments)
        PrintTo(stdout, path + u'\t' + 打开文件判断文件类型(path) + u'\n');
    return 0;
}
