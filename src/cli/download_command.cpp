#include "cli/cli_command.h"

#include "download/download_session.h"
#include "download/save_names.h"
#include "download/scheduler.h"
#include "download/task_list.h"
#include "search/address_names.h"
#include "settings/settings_keys.h"
#include "settings/shared_options.h"
#include "storage/list_store.h"
#include "tools/prompter.h"
#include "tools/time_limits.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace {

// Messages go to standard error; every question is answered No.
class StderrPrompter : public Prompter {
public:
    void message(const QString& text, Icon, const QString&) override {
        PrintTo(stderr, QStringLiteral("quillmarsh-cli: ") + text + u'\n');
    }
    bool askYesNo(const QString&, const QString&) override { return false; }
    std::optional<QString> inputText(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    QString openFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString saveFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString folderName(const QString&, const QString&) override { return {}; }
};

} // namespace

void RunDownloadQueue(TaskListModel& tasks, const DownloadRunSettings& run,
                      DownloadSession* session) {
    SharedOptions options;
    options.DownloadMethod = qint16(run.method);
    options.MaxFileSizeMB = run.maxMb;
    StderrPrompter prompter;
    DownloadSession ownSession(nullptr);
    DownloadScheduler scheduler(tasks, options, session ? *session : ownSession, prompter);
    scheduler.settings.threads = run.threads;
    scheduler.settings.policy = run.policy;
    scheduler.hooks.panel4 = [](const QString& counts) {
        PrintTo(stderr, u'\r' + counts + QStringLiteral("   "));
    };
    QObject::connect(&scheduler, &DownloadScheduler::runEnded, qApp,
                     [] { QCoreApplication::exit(0); });
    // A batch run starts at once and ends as soon as its last task has.
    QTimer endCheck;
    QObject::connect(&endCheck, &QTimer::timeout, qApp, [&] {
        if (tasks.检测是否下载列表完毕() && scheduler.transfersInFlight() == 0)
            QCoreApplication::exit(0);
    });
    endCheck.start(50);
    scheduler.startSupervisor();
    scheduler.Start();
    scheduler.tick();
    QCoreApplication::exec();
    scheduler.hooks.panel4(tasks.TaskCountsText()); // the final counts, also for a short run
    PrintTo(stderr, QStringLiteral("\n"));
}

QString DownloadLine(const DownloadTask& t) {
    return TaskStateWord(t.state) + u'\t' + t.size + u'\t' + t.percent + u'\t' + CliField(t.type) +
           u'\t' + CliField(t.filePath());
}

// quillmarsh-cli download [--queue FILE] [--method 1|2] [--threads N] [--dir D] [--policy P]
//                         [--max-mb X] URL...
int RunDownloadCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption method(QStringLiteral("method"), QStringLiteral("1 or 2"),
                                    QStringLiteral("M"), QStringLiteral("2"));
    const QCommandLineOption threads(QStringLiteral("threads"), QStringLiteral("1 to 6"),
                                     QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption dir(QStringLiteral("dir"), QStringLiteral("folder"),
                                 QStringLiteral("D"), QDir::currentPath());
    const QCommandLineOption policy(QStringLiteral("policy"),
                                    QStringLiteral("跳过, 覆盖 or 重命名"), QStringLiteral("P"),
                                    DuplicateNamePolicies::Rename);
    const QCommandLineOption maxMb(QStringLiteral("max-mb"),
                                   QStringLiteral("largest file, MB (0: no limit)"),
                                   QStringLiteral("X"), QStringLiteral("10"));
    const QCommandLineOption queue(QStringLiteral("queue"),
                                   QStringLiteral("keep the queue in this file"),
                                   QStringLiteral("FILE"));
    parser.addOptions({method, threads, dir, policy, maxMb, queue});
    if (!parser.parse(QStringList{QStringLiteral("download")} + arguments) ||
        (parser.positionalArguments().isEmpty() && !parser.isSet(queue))) {
        PrintTo(stderr,
                QStringLiteral("Usage: quillmarsh-cli download [--queue FILE] [--method 1|2] "
                               "[--threads N] [--dir D] [--policy 跳过|覆盖|重命名] "
                               "[--max-mb X] URL...\n"));
        return 2;
    }
    bool ok = false;
    const int methodValue = parser.value(method).toInt(&ok);
    const int threadValue = parser.value(threads).toInt();
    const double maxValue = parser.value(maxMb).toDouble();
    const QString policyValue = parser.value(policy);
    if (!ok || (methodValue != 1 && methodValue != 2) || threadValue < 1 || threadValue > 6 ||
        maxValue <= 0 ||
        (policyValue != DuplicateNamePolicies::Skip &&
         policyValue != DuplicateNamePolicies::Overwrite &&
         policyValue != DuplicateNamePolicies::Rename)) {
        PrintTo(stderr, QStringLiteral("quillmarsh-cli: bad option value\n"));
        return 2;
    }

    // With a queue file the queue outlives the run: a run started again on it (with
    // or without addresses) carries on, resuming part files; failed tasks are tried again.
    ListStore store;
    TaskListModel& tasks = store.tasks();
    if (parser.isSet(queue)) {
        const bool opened = store.open(QFileInfo(parser.value(queue)).absoluteFilePath());
        if (!store.notice().isEmpty())
            PrintTo(stderr, QStringLiteral("quillmarsh-cli: ") + store.notice() + u'\n');
        if (!opened)
            return 2;
        tasks.RequeueFailedTasks();
    }
    const QString folder = WithTrailingSlash(QDir(parser.value(dir)).absolutePath());
    for (const QString& url : parser.positionalArguments()) {
        QString name = SanitizeFileName(FileNameFromAddress(url, true));
        if (name.isEmpty())
            name = FallbackFileName;
        tasks.appendTask(url, name, QStringLiteral("pdf"), folder); // once per address
    }
    if (!store.flush(TimeLimits::StoreFlushWait))
        PrintTo(stderr, QStringLiteral("quillmarsh-cli: ") + store.problem() + u'\n');
    RunDownloadQueue(tasks, {methodValue, threadValue, policyValue, maxValue});

    bool anyFailed = false;
    for (int row = 1; row <= tasks.count(); ++row) {
        const DownloadTask& t = tasks.task(row);
        anyFailed = anyFailed || t.state == TaskState::Failed;
        PrintTo(stdout, DownloadLine(t) + u'\n');
    }
    // A queue that did not reach its file would be run again from an older state.
    if (store.keeping()) {
        const bool flushed = store.flush(TimeLimits::StoreFlushWait);
        const QString why = store.problem();
        if (!store.close() || !flushed) {
            const QString reason = !store.problem().isEmpty() ? store.problem() : why;
            PrintTo(stderr, QStringLiteral("quillmarsh-cli: 无法保存队列文件：") +
                                (reason.isEmpty() ? QStringLiteral("写入超时") : reason) + u'\n');
            return 2;
        }
    }
    return anyFailed ? 1 : 0;
}
