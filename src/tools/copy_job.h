#pragma once

#include "tools/copy_rules.h"

#include <QObject>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <atomic>
#include <memory>

class Prompter;
class SettingsStore;

// The copy tool's run: copies a list of files into one destination folder
// under a same-name rule, one file at a time on a worker thread, so the window
// keeps answering and a stop ends the file being copied at once.
class CopyJob : public QObject {
    Q_OBJECT

public:
    CopyJob(SettingsStore& store, Prompter& prompter, QObject* parent = nullptr);
    ~CopyJob() override;

    QStringList files;       // sources, in order
    QStringList history;     // the destination list's entries
    QString destinationText; // the destination list's text
    int rule = 4;            // "OpIndex"; a number outside 1-5 selects no rule

    // Fills the history from the history file, the destination and the rule from
    // the settings.
    void load();

    // "开始": a run; pressed again while one runs ("停止"), the request to stop
    // it. showMessage: "复制文件完成！" at the end, naming the files that failed.
    QCoro::Task<void> 执行(bool showMessage);
    // A run's loop has not ended yet (also while it stops).
    bool running() const { return run_ != nullptr; }
    // The run was asked to stop and is ending the file on its way.
    bool stopping() const { return run_ && run_->stop.load(); }

    // Ends a run without its closing message (the window closes): the file
    // being copied is dropped, its destination left as it was.
    void cancel();

signals:
    void destinationTextChanged(const QString& text);
    void historyChanged();
    void progressChanged(int value, int maximum);
    // The name of the file being copied; empty between runs.
    void currentFileChanged(const QString& name);
    void runningChanged(bool running);
    void stoppingChanged(bool stopping);
    // Before file number index (1-based) is looked at.
    void fileStarted(int index);

private:
    // One run's own flags: a stop reaches the run it was meant for and no other.
    struct Run {
        std::atomic<bool> stop{false};
        bool quiet = false;
    };

    // Steps every press runs: destination folder, settings, history, file list.
    // The destination folder, or empty text when it cannot be made.
    QString prepare();
    void requestStop(const std::shared_ptr<Run>& run);

    SettingsStore& store_;
    Prompter& prompter_;
    std::shared_ptr<Run> run_;
};
