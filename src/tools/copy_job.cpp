#include "tools/copy_job.h"

#include "download/save_names.h"
#include "settings/folder_history.h"
#include "settings/settings_store.h"
#include "tools/file_copy.h"
#include "tools/file_helpers.h"
#include "tools/prompter.h"
#include "tools/text_utils.h"
#include "tools/worker.h"

#include <QFileInfo>
#include <QPointer>

namespace {

// Failed files named in the closing message at most.
constexpr int FailuresShown = 10;

QString FinishedText(const QStringList& failures) {
    QString text = QStringLiteral("复制文件完成！");
    if (failures.isEmpty())
        return text;
    text += QStringLiteral("\n%1 个文件未能复制：").arg(failures.size());
    for (const QString& failure : failures.mid(0, FailuresShown))
        text += u'\n' + failure;
    if (failures.size() > FailuresShown)
        text += QStringLiteral("\n……");
    return text;
}

} // namespace

CopyJob::CopyJob(SettingsStore& store, Prompter& prompter, QObject* parent)
    : QObject(parent)
    , store_(store)
    , prompter_(prompter) {}

CopyJob::~CopyJob() {
    // The file on its way is dropped; its thread ends by itself, nobody waits.
    if (run_)
        run_->stop.store(true);
}

void CopyJob::load() {
    LoadFolderHistory(history, FolderHistoryPath());
    emit historyChanged();
    destinationText = store_.text(SettingKeys::CopyTargetFolder());
    emit destinationTextChanged(destinationText);
    rule = store_.integer(SettingKeys::CopyOperation());
}

void CopyJob::cancel() {
    if (!run_)
        return;
    run_->quiet = true;
    requestStop(run_);
}

void CopyJob::requestStop(const std::shared_ptr<Run>& run) {
    if (!run->stop.exchange(true) && run == run_)
        emit stoppingChanged(true);
}

QString CopyJob::prepare() {
    const QString folder = EnsureFolder(destinationText, prompter_);
    destinationText = folder;
    if (folder.isEmpty()) {
        emit destinationTextChanged(destinationText);
        prompter_.message(QStringLiteral("创建文件夹出错！"), Prompter::Icon::Critical);
        return {};
    }
    if (!destinationText.endsWith(u'/'))
        destinationText += u'/';
    emit destinationTextChanged(destinationText);
    store_.setText(SettingKeys::CopyTargetFolder(), destinationText);
    store_.setInteger(SettingKeys::CopyOperation(), rule);
    const QString entry = TrimSpaces(destinationText);
    if (!history.contains(entry, Qt::CaseInsensitive)) {
        history.append(entry);
        emit historyChanged();
    }
    SaveFolderHistory(history, FolderHistoryPath());
    emit currentFileChanged(QString());
    files.removeIf([](const QString& path) { return !FileExists(path); });
    return destinationText;
}

QCoro::Task<void> CopyJob::执行(bool showMessage) {
    // What a press means is settled when it comes: during a run it stops that
    // run, also when the run ends while this press shows a message.
    const std::shared_ptr<Run> pressedDuring = run_;
    QPointer<CopyJob> self(this);
    const QString destination = prepare();
    if (!self)
        co_return;
    if (pressedDuring) {
        requestStop(pressedDuring);
        co_return;
    }
    if (run_ || destination.isEmpty() || files.isEmpty())
        co_return;

    const auto run = std::make_shared<Run>();
    run_ = run;
    emit runningChanged(true);
    const QStringList sources = files;
    const int maximum = int(sources.size()) + 1;
    emit progressChanged(0, maximum);
    const QString destinationFolder = QFileInfo(destination).canonicalFilePath();
    QStringList failures;

    for (int i = 0; i < sources.size() && !run->stop.load(); ++i) {
        const QString& source = sources.at(i);
        emit fileStarted(i + 1);
        emit progressChanged(i + 1, maximum);
        const SourceParts parts = SplitSourcePath(source);
        // Never onto itself.
        if (!parts.folder.isEmpty() &&
            QFileInfo(parts.folder).canonicalFilePath() == destinationFolder)
            continue;
        emit currentFileChanged(parts.fileName());
        const SameNameRule fileRule = SameNameRuleOf(rule);
        // Named first: a temporary inside a co_await expression is destroyed twice by g++ 12.
        auto copy = [source, destination, fileRule, run] {
            return CopyInto(source, destination, fileRule, [run] { return run->stop.load(); });
        };
        QCoro::Task<CopyResult> copying = RunOnWorker(std::move(copy));
        const CopyResult result = co_await std::move(copying);
        if (!self)
            co_return;
        // A file that cannot be copied is passed over and named at the end.
        if (result.outcome == CopyOutcome::Failed)
            failures.append(parts.fileName() + QStringLiteral("：") + result.error);
    }

    emit progressChanged(0, maximum);
    emit currentFileChanged(QString());
    run_.reset();
    if (run->stop.load())
        emit stoppingChanged(false);
    emit runningChanged(false);
    if (showMessage && !run->quiet)
        prompter_.message(FinishedText(failures), Prompter::Icon::Information);
}
