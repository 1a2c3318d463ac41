#include "tools/copy_job.h"

#include "download/save_names.h"
#include "settings/folder_history.h"
#include "settings/settings_store.h"
#include "tools/file_helpers.h"
#include "tools/prompter.h"
#include "tools/text_utils.h"

#include <QFileInfo>
#include <QThread>

#include <qcoro/qcorothread.h>
#include <qcoro/qcorotimer.h>

CopyJob::CopyJob(SettingsStore& store, Prompter& prompter, QObject* parent)
    : QObject(parent)
    , store_(store)
    , prompter_(prompter) {}

CopyJob::~CopyJob() {
    cancel();
    if (worker_)
        worker_->wait();
}

void CopyJob::load() {
    LoadFolderHistory(history, FolderHistoryPath());
    emit historyChanged();
    destinationText = store_.text(SettingKeys::CopyTargetFolder());
    emit destinationTextChanged(destinationText);
    rule = store_.integer(SettingKeys::CopyOperation());
}

void CopyJob::cancel() {
    if (cancel_)
        cancel_->store(true);
    setRunning(false);
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
    const QString destination = prepare();
    // A press during a run always stops it, also when the folder or the list
    // went bad meanwhile.
    if (running_) {
        setRunning(false);
        co_return;
    }
    if (destination.isEmpty() || files.isEmpty())
        co_return;

    QPointer<CopyJob> self(this);
    setRunning(true);
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    const auto cancelled = cancel_;
    const QStringList sources = files;
    const int maximum = int(sources.size()) + 1;
    emit progressChanged(0, maximum);
    const QString destinationFolder = QFileInfo(destination).canonicalFilePath();

    for (int i = 0; i < sources.size() && running_; ++i) {
        const QString& source = sources.at(i);
        emit fileStarted(i + 1);
        emit progressChanged(i + 1, maximum);
        const SourceParts parts = SplitSourcePath(source);
        // Never onto itself.
        if (!parts.folder.isEmpty() &&
            QFileInfo(parts.folder).canonicalFilePath() == destinationFolder)
            continue;
        emit currentFileChanged(parts.fileName());
        // Lets a press of "停止" through before the file is copied.
        co_await QCoro::sleepFor(std::chrono::milliseconds(0));
        if (!self || cancelled->load())
            co_return;
        const QString target = CopyTarget(source, destination, SameNameRuleOf(rule));
        if (target.isEmpty())
            continue;
        // A file that cannot be copied is passed over; the run goes on.
        co_await copyOnWorker(source, target);
        if (!self || cancelled->load())
            co_return;
    }

    emit progressChanged(0, maximum);
    emit currentFileChanged(QString());
    setRunning(false);
    if (showMessage)
        prompter_.message(QStringLiteral("复制文件完成！"), Prompter::Icon::Information);
}

QCoro::Task<bool> CopyJob::copyOnWorker(const QString& source, const QString& target) {
    const auto cancelled = cancel_;
    const auto ok = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<QThread> thread(
        QThread::create([=] { ok->store(CopyFileReplacing(source, target, cancelled.get())); }));
    worker_ = thread.get();
    thread->start();
    co_await qCoro(thread.get()).waitForFinished();
    co_return ok->load();
}

void CopyJob::setRunning(bool on) {
    if (running_ == on)
        return;
    running_ = on;
    emit runningChanged(on);
}
