#include "tools/deferred_prompter.h"

#include <QTimer>

DeferredPrompter::DeferredPrompter(Prompter& target, QObject* context)
    : target_(target)
    , context_(context) {}

void DeferredPrompter::message(const QString& text, Icon icon, const QString& title) {
    pending_.append({text, icon, title});
    if (scheduled_ || flushing_)
        return;
    scheduled_ = true;
    QTimer::singleShot(0, context_, [this] { flush(); });
}

void DeferredPrompter::flush() {
    scheduled_ = false;
    flushing_ = true;
    // One box at a time; messages raised while one is open follow it.
    while (!pending_.isEmpty()) {
        const Pending next = pending_.takeFirst();
        target_.message(next.text, next.icon, next.title);
    }
    flushing_ = false;
}

bool DeferredPrompter::askYesNo(const QString& text, const QString& title) {
    return target_.askYesNo(text, title);
}

std::optional<QString> DeferredPrompter::inputText(const QString& prompt, const QString& title,
                                                   const QString& initial) {
    return target_.inputText(prompt, title, initial);
}

QString DeferredPrompter::openFileName(const QString& title, const QString& folder,
                                       const QString& filter) {
    return target_.openFileName(title, folder, filter);
}

QString DeferredPrompter::saveFileName(const QString& title, const QString& suggestedPath,
                                       const QString& filter) {
    return target_.saveFileName(title, suggestedPath, filter);
}

QString DeferredPrompter::folderName(const QString& title, const QString& startFolder) {
    return target_.folderName(title, startFolder);
}
