#pragma once

#include <QFileInfo>
#include <QString>

#include <optional>

// Every question and message to the user goes through this interface, so the
// commands that ask run headless in tests with scripted answers.
class Prompter {
public:
    enum class Icon { None, Critical, Information, Question };

    virtual ~Prompter() = default;

    // A modal message with one OK button.
    virtual void message(const QString& text, Icon icon, const QString& title = {}) = 0;

    // Yes/No question; true for Yes.
    virtual bool askYesNo(const QString& text, const QString& title = {}) = 0;

    // Input box; no value when cancelled.
    virtual std::optional<QString> inputText(const QString& prompt, const QString& title = {},
                                             const QString& initial = {}) = 0;

    // File dialogs; empty text when cancelled. filter uses Qt's "Text (*.txt);;All (*)" form.
    virtual QString openFileName(const QString& title, const QString& folder,
                                 const QString& filter) = 0;
    virtual QString saveFileName(const QString& title, const QString& suggestedPath,
                                 const QString& filter) = 0;
    // A save dialog that asks before an existing file is replaced; empty text
    // when cancelled or not confirmed. Without a dialog of its own that asks,
    // the question follows the dialog.
    virtual QString saveFileNameConfirmingOverwrite(const QString& title,
                                                    const QString& suggestedPath,
                                                    const QString& filter) {
        const QString path = saveFileName(title, suggestedPath, filter);
        if (path.isEmpty() || !QFileInfo::exists(path))
            return path;
        return askYesNo(QStringLiteral("%1 已存在。\n要替换它吗？").arg(path), title) ? path
                                                                                      : QString();
    }

    // Folder dialog; empty text when cancelled.
    virtual QString folderName(const QString& title, const QString& startFolder) = 0;
};
