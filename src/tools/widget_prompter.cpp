#include "tools/widget_prompter.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

WidgetPrompter::WidgetPrompter(QWidget* owner)
    : owner_(owner) {}

QString WidgetPrompter::captionOr(const QString& title) const {
    if (!title.isEmpty())
        return title;
    return QStringLiteral("Quillmarsh");
}

void WidgetPrompter::message(const QString& text, Icon icon, const QString& title) {
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    switch (icon) {
    case Icon::Critical:
        boxIcon = QMessageBox::Critical;
        break;
    case Icon::Information:
        boxIcon = QMessageBox::Information;
        break;
    case Icon::Question:
        boxIcon = QMessageBox::Question;
        break;
    case Icon::None:
        break;
    }
    QMessageBox box(boxIcon, captionOr(title), text, QMessageBox::Ok, owner_);
    box.exec();
}

bool WidgetPrompter::askYesNo(const QString& text, const QString& title) {
    return QMessageBox::question(owner_, captionOr(title), text,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

std::optional<QString> WidgetPrompter::inputText(const QString& prompt, const QString& title,
                                                 const QString& initial) {
    bool ok = false;
    const QString value =
        QInputDialog::getText(owner_, captionOr(title), prompt, QLineEdit::Normal, initial, &ok);
    if (!ok)
        return std::nullopt;
    return value;
}

QString WidgetPrompter::openFileName(const QString& title, const QString& folder,
                                     const QString& filter) {
    return QFileDialog::getOpenFileName(owner_, captionOr(title), folder, filter);
}

QString WidgetPrompter::saveFileName(const QString& title, const QString& suggestedPath,
                                     const QString& filter) {
    // Overwrite questions are the caller's business (some commands ask their own).
    return QFileDialog::getSaveFileName(owner_, captionOr(title), suggestedPath, filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

QString WidgetPrompter::saveFileNameConfirmingOverwrite(const QString& title,
                                                        const QString& suggestedPath,
                                                        const QString& filter) {
    // The dialog itself asks before it replaces a file.
    return QFileDialog::getSaveFileName(owner_, captionOr(title), suggestedPath, filter);
}

QString WidgetPrompter::folderName(const QString& title, const QString& startFolder) {
    return QFileDialog::getExistingDirectory(owner_, captionOr(title), startFolder);
}
