#pragma once

#include "tools/prompter.h"

#include <QPointer>
#include <QWidget>

#include <memory>

// Prompter shown with Qt's standard dialogs, owned by a window.
class WidgetPrompter : public Prompter {
public:
    explicit WidgetPrompter(QWidget* owner = nullptr);

    void message(const QString& text, Icon icon, const QString& title = {}) override;
    bool askYesNo(const QString& text, const QString& title = {}) override;
    std::optional<QString> inputText(const QString& prompt, const QString& title = {},
                                     const QString& initial = {}) override;
    QString openFileName(const QString& title, const QString& folder,
                         const QString& filter) override;
    QString saveFileName(const QString& title, const QString& suggestedPath,
                         const QString& filter) override;
    QString saveFileNameConfirmingOverwrite(const QString& title, const QString& suggestedPath,
                                            const QString& filter) override;
    QString folderName(const QString& title, const QString& startFolder) override;

private:
    QString captionOr(const QString& title) const;

    QPointer<QWidget> owner_;
};

// The prompter a window asks through: the one it was given (tests), or its own dialogs.
class WindowPrompter {
public:
    WindowPrompter(Prompter* given, QWidget* owner)
        : own_(given ? nullptr : std::make_unique<WidgetPrompter>(owner))
        , prompter_(given ? given : own_.get()) {}

    Prompter& operator*() const { return *prompter_; }
    Prompter* operator->() const { return prompter_; }
    Prompter* get() const { return prompter_; }

private:
    std::unique_ptr<Prompter> own_;
    Prompter* prompter_;
};
