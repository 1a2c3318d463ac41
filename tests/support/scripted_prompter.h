#pragma once

#include "tools/prompter.h"

#include <QList>
#include <QStringList>
#include <QVariant>

// Answers questions from a queue and records everything shown.
class ScriptedPrompter : public Prompter {
public:
    struct Shown {
        QString kind; // "message", "yesno", "input", "open", "save", "folder"
        QString text;
        Icon icon = Icon::None;
    };

    // Queue answers in the order the questions will come: bool for Yes/No,
    // QString for input and dialogs, an invalid QVariant for "cancelled".
    void queue(const QVariant& answer) { answers_.append(answer); }

    QList<Shown> shown;
    // Texts of the messages shown, in order.
    QStringList messages() const;
    int pendingAnswers() const { return int(answers_.size()); }

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
    // Next answer; a question nobody scripted fails the test.
    QVariant next(const QString& what);

    QList<QVariant> answers_;
};
