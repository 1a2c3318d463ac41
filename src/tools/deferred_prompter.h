#pragma once

#include "tools/prompter.h"

#include <QList>
#include <QObject>

// Shows messages once the code that raised them has returned to the event loop,
// so a modal box never runs inside a timer's handler (where it would let the
// same timer fire again). Questions still go straight to the target.
class DeferredPrompter : public Prompter {
public:
    // context: messages still pending when it is destroyed are dropped.
    DeferredPrompter(Prompter& target, QObject* context);

    void message(const QString& text, Icon icon, const QString& title = {}) override;
    bool askYesNo(const QString& text, const QString& title = {}) override;
    std::optional<QString> inputText(const QString& prompt, const QString& title = {},
                                     const QString& initial = {}) override;
    QString openFileName(const QString& title, const QString& folder,
                         const QString& filter) override;
    QString saveFileName(const QString& title, const QString& suggestedPath,
                         const QString& filter) override;
    QString folderName(const QString& title, const QString& startFolder) override;

private:
    struct Pending {
        QString text;
        Icon icon;
        QString title;
    };
    void flush();

    Prompter& target_;
    QObject* context_;
    QList<Pending> pending_;
    bool scheduled_ = false;
    bool flushing_ = false;
};
