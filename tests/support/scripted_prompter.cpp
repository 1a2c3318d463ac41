#include "scripted_prompter.h"

#include <QTest>

QStringList ScriptedPrompter::messages() const {
    QStringList texts;
    for (const Shown& s : shown) {
        if (s.kind == u"message")
            texts.append(s.text);
    }
    return texts;
}

QVariant ScriptedPrompter::next(const QString& what) {
    if (answers_.isEmpty()) {
        QTest::qFail(qPrintable(QStringLiteral("unscripted question: ") + what), __FILE__,
                     __LINE__);
        return {};
    }
    return answers_.takeFirst();
}

void ScriptedPrompter::message(const QString& text, Icon icon, const QString&) {
    shown.append({QStringLiteral("message"), text, icon});
}

bool ScriptedPrompter::askYesNo(const QString& text, const QString&) {
    shown.append({QStringLiteral("yesno"), text, Icon::Question});
    return next(text).toBool();
}

std::optional<QString> ScriptedPrompter::inputText(const QString& prompt, const QString&,
                                                   const QString&) {
    shown.append({QStringLiteral("input"), prompt, Icon::None});
    const QVariant answer = next(prompt);
    if (!answer.isValid())
        return std::nullopt;
    return answer.toString();
}

QString ScriptedPrompter::openFileName(const QString& title, const QString&, const QString&) {
    shown.append({QStringLiteral("open"), title, Icon::None});
    return next(title).toString();
}

QString ScriptedPrompter::saveFileName(const QString& title, const QString&, const QString&) {
    shown.append({QStringLiteral("save"), title, Icon::None});
    return next(title).toString();
}

QString ScriptedPrompter::folderName(const QString& title, const QString&) {
    shown.append({QStringLiteral("folder"), title, Icon::None});
    return next(title).toString();
}
