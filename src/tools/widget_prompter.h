#pragma once

#include "tools/prompter.h"

#include <QPointer>
#include <QWidget>

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
    QString folderName(const QString& title, const QString& startFolder) override;

private:
    QString captionOr(const QString& title) const;

    QPointer<QWidget> owner_;
};
