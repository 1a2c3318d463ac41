#pragma once

#include "tools/copy_rules.h"

#include <QString>

#include <atomic>
#include <functional>

// Opens path for reading only when it is a plain file itself: a final link is
// not followed, and a FIFO or a device is refused without blocking. The
// descriptor (blocking again), or -1 with errno set (EINVAL: not a plain file).
int OpenPlainFile(const QString& path);

enum class CopyOutcome {
    Copied,
    Skipped, // the rule leaves the name in the destination alone
    Failed,
    Stopped, // a stop request came; nothing was left behind
};

struct CopyResult {
    CopyOutcome outcome = CopyOutcome::Failed;
    QString target; // where the copy went
    QString error;  // why it failed, for the user
};

// Asked between chunks; true ends the copy at once.
using StopRequest = std::function<bool()>;

// Copies source into destination (ending with "/") under rule: the copy is
// written under a temporary name in destination and takes its name only when
// complete, so a stop, a failure or a full disk never leaves a half file under
// a real name, and a file that appeared at the name meanwhile is overwritten
// only when the rule says so. Blocking: meant for a worker thread.
CopyResult CopyInto(const QString& source, const QString& destination, SameNameRule rule,
                    const StopRequest& stop = {});

// Gives the complete copy at temporary its place as plan says; when the name
// was taken meanwhile and plan does not overwrite, rule decides again (another
// numbered name, or the copy is skipped and temporary removed).
CopyResult PlaceCopy(const QString& temporary, const QString& source, const QString& destination,
                     SameNameRule rule, CopyPlan plan);

// Copies source to target, replacing what is there only once the copy is
// complete (keeping the source's permissions and modification time). A cancel
// request or any failure leaves target as it was and no temporary file behind.
bool CopyFileReplacing(const QString& source, const QString& target,
                       const std::atomic<bool>* cancel = nullptr);
