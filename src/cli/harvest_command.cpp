#include "cli/cli_command.h"

#include "app/browser_page.h"
#include "app/load_watch.h"
#include "download/download_session.h"
#include "download/task_list.h"
#include "search/analysis_run.h"
#include "search/harvester.h"
#include "search/pdf_link_resolver.h"
#include "search/record_list.h"
#include "search/search_flags.h"
#include "settings/settings_keys.h"
#include "settings/shared_options.h"
#include "tools/time_limits.h"
#include "tools/wait.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QUrl>
#include <QWebEngineProfile>

#include <memory>

namespace {

struct HarvestJob {
    // Off the record: a batch run leaves nothing behind. It lives through the
    // downloads, and the session mirrors its cookies from the start, so a file
    // that a landing page's cookie unlocks is downloaded with that cookie.
    std::unique_ptr<QWebEngineProfile> profile = std::make_unique<QWebEngineProfile>();
    std::unique_ptr<DownloadSession> session = std::make_unique<DownloadSession>(profile.get());
    QString startUrl;
    bool checkedOnly = false;
    SharedOptions options;
    RecordListModel records;
    TaskListModel tasks;
    QHash<QString, QString> pdfOf; // full-text link -> PDF address
};

// Every result page, then every record: as "加入全部到列表" and "分析全部" do.
QCoro::Task<bool> HarvestAndAnalyse(HarvestJob& job) {
    BrowserPage results(job.profile.get());
    results.setSilent(true);
    BrowserPage hidden(job.profile.get());
    PdfLinkResolver::PrepareHiddenBrowser(&hidden);
    SearchFlags flags;
    QObject::connect(&results, &BrowserPage::DocumentComplete, &flags,
                     [&flags] { flags.setPageLoading(false); });

    LoadWatch watch(&results);
    const QUrl start = results.Navigate(job.startUrl);
    watch.expect(start);
    QElapsedTimer clock;
    clock.start();
    const auto limit = TimeLimits::Scaled(TimeLimits::NextPageLoad);
    bool loaded = false;
    while (!start.isEmpty() && clock.elapsed() < limit.count()) {
        loaded = co_await watch.loaded();
        if (loaded)
            break;
        co_await WaitForSignal(&watch, &LoadWatch::changed,
                               limit - std::chrono::milliseconds(clock.elapsed()));
    }
    if (!loaded) {
        PrintTo(stderr, QStringLiteral("quillmarsh-cli: %1 did not load\n").arg(job.startUrl));
        co_return false;
    }

    Harvester harvester(&results, flags, job.records);
    harvester.setCheckedOnly([&job] { return job.checkedOnly; });
    int pages = 0;
    QObject::connect(&harvester, &Harvester::pageParsed, &harvester, [&](int added) {
        PrintTo(stderr, QStringLiteral("第%1页：新增%2条，共%3条\n")
                            .arg(++pages)
                            .arg(added)
                            .arg(job.records.count()));
    });
    co_await harvester.AddAll(job.options.DownloadFolder);

    PdfLinkResolver resolver(&hidden, flags);
    AnalysisRun run(job.records, flags, resolver, job.options);
    run.handOver = [&job](const FoundPdf& pdf) {
        job.tasks.appendTask(pdf.url, pdf.name, pdf.type, pdf.folder);
    };
    QObject::connect(&run, &AnalysisRun::recordAnalysed, &run, [&job](int row, const QString& pdf) {
        if (row < 1)
            return;
        const SearchRecord& r = job.records.record(row);
        job.pdfOf.insert(r.link, pdf);
        PrintTo(stderr, QStringLiteral("分析 %1/%2：%3 %4\n")
                            .arg(row)
                            .arg(job.records.count())
                            .arg(r.status, CliField(r.title)));
    });
    co_await run.RunAnalysis(AnalysisVariant::All);
    co_return true;
}

} // namespace

// quillmarsh-cli harvest START_URL [--checked-only] [--dir D] [--original-names]
//                        [--method 1|2] [--threads N]
// One line a record: status, title, PDF address, then the download line of its task.
int RunHarvestCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption checkedOnly(QStringLiteral("checked-only"),
                                         QStringLiteral("only the hits ticked on the page"));
    const QCommandLineOption dir(QStringLiteral("dir"), QStringLiteral("folder"),
                                 QStringLiteral("D"), QDir::currentPath());
    const QCommandLineOption originalNames(QStringLiteral("original-names"),
                                           QStringLiteral("name files after their address"));
    const QCommandLineOption method(QStringLiteral("method"), QStringLiteral("1 or 2"),
                                    QStringLiteral("M"), QStringLiteral("2"));
    const QCommandLineOption threads(QStringLiteral("threads"), QStringLiteral("1 to 6"),
                                     QStringLiteral("N"), QStringLiteral("3"));
    parser.addOptions({checkedOnly, dir, originalNames, method, threads});
    if (!parser.parse(QStringList{QStringLiteral("harvest")} + arguments) ||
        parser.positionalArguments().size() != 1) {
        PrintTo(stderr, QStringLiteral("Usage: quillmarsh-cli harvest START_URL [--checked-only] "
                                       "[--dir D] [--original-names] [--method 1|2] "
                                       "[--threads N]\n"));
        return 2;
    }
    bool ok = false;
    const int methodValue = parser.value(method).toInt(&ok);
    const int threadValue = parser.value(threads).toInt();
    if (!ok || (methodValue != 1 && methodValue != 2) || threadValue < 1 || threadValue > 6) {
        PrintTo(stderr, QStringLiteral("quillmarsh-cli: bad option value\n"));
        return 2;
    }

    HarvestJob job;
    job.startUrl = parser.positionalArguments().first();
    job.checkedOnly = parser.isSet(checkedOnly);
    // The records carry the folder, as with the folder question at harvest time.
    job.options.PromptSaveFolder = 1;
    job.options.DownloadFolder = WithTrailingSlash(QDir(parser.value(dir)).absolutePath());
    job.options.UseOriginalFileName = parser.isSet(originalNames);

    bool harvested = false;
    QCoro::connect(HarvestAndAnalyse(job), qApp, [&harvested](bool done) {
        harvested = done;
        QCoreApplication::exit(0);
    });
    QCoreApplication::exec();
    if (!harvested)
        return 1;

    RunDownloadQueue(job.tasks, {methodValue, threadValue, DuplicateNamePolicies::Rename, 10},
                     job.session.get());

    bool anyFailed = false;
    for (int row = 1; row <= job.records.count(); ++row) {
        const SearchRecord& r = job.records.record(row);
        const QString pdf = job.pdfOf.value(r.link);
        const int task = pdf.isEmpty() ? 0 : job.tasks.rowOf(pdf);
        const QString download =
            task > 0 ? DownloadLine(job.tasks.task(task)) : QStringLiteral("\t\t\t\t");
        anyFailed = anyFailed || r.status != RecordStatus::Found ||
                    (task > 0 && job.tasks.task(task).state == TaskState::Failed);
        PrintTo(stdout, r.status + u'\t' + CliField(r.title) + u'\t' + CliField(pdf) + u'\t' +
                            download + u'\n');
    }
    return anyFailed ? 1 : 0;
}
