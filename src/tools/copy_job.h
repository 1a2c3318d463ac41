#pragma once

#include "tools/copy_rules.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <atomic>
#include <memory>

class Prompter;
class QThread;
class SettingsStore;

// The copy tool's run: copies a list of files into one destination folder
// under a same-name rule, one file at a time on a worker thread, so the window
// keeps answering and a stop takes effect after the current file.
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
    // after the current file. showMessage: "复制文件完成！" at the end.
    QCoro::Task<void> 执行(bool showMessage);
    bool running() const { return running_; }

    // Ends a run at once (the window closes): the file being copied is dropped,
    // its destination left as it was.
    void cancel();

signals:
    void destinationTextChanged(const QString& text);
    void historyChanged();
    void progressChanged(int value, int maximum);
    // The name of the file being copied; empty between runs.
    void currentFileChanged(const QString& name);
    void runningChanged(bool running);
    // Before file number index (1-based) is looked at.
    void fileStarted(int index);

private:
    // Steps every press runs: destination folder, settings, history, file list.
    // The destination folder, or empty text when it cannot be made.
    QString prepare();
    QCoro::Task<bool> copyOnWorker(const QString& source, const QString& target);
    void setRunning(bool on);

    SettingsStore& store_;
    Prompter& prompter_;
    bool running_ = false;
    std::shared_ptr<std::atomic<bool>> cancel_;
    QPointer<QThread> worker_;
};
