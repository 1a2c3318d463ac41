#pragma once

#include "download/transfer_types.h"

#include <QHash>
#include <QMutex>
#include <QString>

// Names that running downloads will write, held in memory (never as files on
// disk, where a placeholder would pass for a finished download). Shared by the
// window thread and the transfer threads.
class NameReservations {
public:
    // The task holding path, or 0.
    qint64 holder(const QString& path) const;
    // Every name the task holds is given back.
    void release(qint64 owner);
    int size() const;

private:
    friend struct SaveTargetChooser;
    mutable QMutex mutex_;
    QHash<QString, qint64> holders_;
};

struct SaveTarget;

// The same-name policy applied to a file about to be written.
struct ChosenTarget {
    enum Status {
        Ok,     // reserved for the task: name and path below
        Exists, // skip policy and a file is there (path: that file)
        Busy,   // another running task holds the name; try again later
    } status = Ok;
    QString name;
    QString path;
};

// Picks the file for a task and reserves it: rename numbers around files on disk
// and names that running tasks hold; skip and overwrite wait for a name in use.
ChosenTarget ChooseSaveTarget(NameReservations& reservations, const SaveNaming& naming,
                              qint64 owner);

// A file whose owner may not write it: the user has protected it, so overwrite
// leaves it alone (deleting it would be allowed here, unlike on some systems).
bool IsReadOnlyFile(const QString& path);

// Puts a complete part file in place of its target in one step. Under overwrite
// the target is replaced; otherwise a file that appeared there meanwhile is kept
// and the policy is applied again (rename picks the next number, skip gives up).
// A replaced file's folder is synced; the part itself the caller syncs first.
struct CommitResult {
    TransferResult result = TransferResult::Saved; // Saved, Exists, CannotReplace, WriteFailed
    QString path;                                  // the file now in place
    QString name;
    QString errorText;
};
// beforeCommit, when given, hears of each name just before it is tried (see TransferJob).
CommitResult CommitPartFile(const QString& partPath, const QString& target,
                            const SaveNaming& naming, NameReservations& reservations, qint64 owner,
                            const std::function<bool(const QString&)>& beforeCommit = {});
