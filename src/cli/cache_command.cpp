#include "cli/cli_command.h"

#include "tools/browser_cache.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

namespace {

const char CacheUsage[] =
    "Usage: quillmarsh-cli cache list [--all-users] [--profile DIR] [--homes DIR]\n"
    "       quillmarsh-cli cache clear [--profile DIR] [--homes DIR]\n"
    "  list    one line a row: text, type, size, path, tab-separated\n"
    "  clear   delete the own cache, then every user's cache folder (cookies and\n"
    "          text files stay); ends with the line IE缓存清空完毕！, or, when\n"
    "          files stayed, names them on stderr and exits with status 1\n"
    "  --profile DIR  the browser profile folder (cookies and cache in one folder);\n"
    "                 the program's own profile by default\n"
    "  --homes DIR    the folder holding the users' home folders (default /home,\n"
    "                 with root's home)\n";

void PrintRows(const CacheRowModel& files) {
    for (const CacheRow& row : files.rows()) {
        PrintTo(stdout, CliField(row.text) + u'\t' + CliField(row.type) + u'\t' +
                            (row.size < 0 ? QString() : QString::number(row.size)) + u'\t' +
                            CliField(row.filePath) + u'\n');
    }
}

void Exit(int status) {
    QTimer::singleShot(0, qApp, [status] { QCoreApplication::exit(status); });
}

QCoro::Task<void> List(BrowserCacheViewer& viewer, bool allUsers) {
    if (allUsers)
        co_await viewer.ListAllUsers();
    else
        co_await viewer.GetCacheURLList();
    PrintRows(viewer.files);
    PrintTo(stderr, viewer.status + u'\n');
    Exit(viewer.status.startsWith(u"出错") ? 1 : 0);
}

QCoro::Task<void> Clear(BrowserCacheViewer& viewer) {
    co_await viewer.GetCacheURLList();
    const DeletionResult mine = co_await viewer.DeleteAll();
    co_await viewer.ListAllUsers();
    const DeletionResult all = co_await viewer.DeleteAll();
    const QStringList left = mine.left + all.left;
    if (left.isEmpty()) {
        PrintTo(stdout, CacheTexts::Finished + u'\n');
        Exit(0);
        co_return;
    }
    // Scripts learn that not everything went, and what stayed.
    for (const QString& path : left)
        PrintTo(stderr, QStringLiteral("未能删除: ") + CliField(path) + u'\n');
    PrintTo(stderr, CacheTexts::NotAllCleared(int(left.size())) + u'\n');
    Exit(1);
}

} // namespace

// quillmarsh-cli cache list|clear [--all-users] [--profile DIR] [--homes DIR]
int RunCacheCommand(const QStringList& arguments) {
    if (arguments.contains(u"--help") || arguments.contains(u"-h")) {
        std::fputs(CacheUsage, stdout);
        return 0;
    }
    QCommandLineParser parser;
    const QCommandLineOption allUsers(QStringLiteral("all-users"),
                                      QStringLiteral("every user's cache folders"));
    const QCommandLineOption profile(
        QStringLiteral("profile"), QStringLiteral("browser profile folder"), QStringLiteral("DIR"));
    const QCommandLineOption homes(QStringLiteral("homes"), QStringLiteral("home folders"),
                                   QStringLiteral("DIR"));
    parser.addOptions({allUsers, profile, homes});
    const bool parsed = parser.parse(QStringList{QStringLiteral("cache")} + arguments);
    const QStringList words = parser.positionalArguments();
    const QString action = words.value(0);
    if (!parsed || words.size() != 1 || (action != u"list" && action != u"clear") ||
        (action == u"clear" && parser.isSet(allUsers))) {
        if (!parsed)
            PrintTo(stderr, QStringLiteral("quillmarsh-cli: ") + parser.errorText() + u'\n');
        std::fputs(CacheUsage, stderr);
        return 2;
    }

    if (parser.isSet(homes))
        SetHomesRoot(parser.value(homes));
    BrowserCacheViewer viewer(parser.isSet(profile) ? SingleFolderProfile(parser.value(profile))
                                                    : ProgramProfileFolders());
    if (action == u"list")
        List(viewer, parser.isSet(allUsers));
    else
        Clear(viewer);
    return QCoreApplication::exec();
}
