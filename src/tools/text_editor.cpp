#include "tools/text_editor.h"

#include <QProcess>
#include <QStandardPaths>

namespace {

// The desktop entry the desktop uses for text/plain, e.g. "org.gnome.TextEditor.desktop".
QString DefaultTextEditorEntry() {
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return {};
    QProcess query;
    query.start(xdgMime,
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/plain")});
    if (!query.waitForFinished(3000))
        return {};
    return QString::fromUtf8(query.readAllStandardOutput()).trimmed();
}

} // namespace

QStringList KnownTextEditors() {
    return {QStringLiteral("gnome-text-editor"),
            QStringLiteral("gedit"),
            QStringLiteral("kate"),
            QStringLiteral("kwrite"),
            QStringLiteral("mousepad"),
            QStringLiteral("pluma"),
            QStringLiteral("xed"),
            QStringLiteral("featherpad"),
            QStringLiteral("leafpad")};
}

bool OpenInTextEditor(const QString& path) {
    const QString entry = DefaultTextEditorEntry();
    const QString launcher = QStandardPaths::findExecutable(QStringLiteral("gtk-launch"));
    if (entry.endsWith(QStringLiteral(".desktop")) && !launcher.isEmpty() &&
        QProcess::startDetached(launcher, {entry, path}))
        return true;
    for (const QString& editor : KnownTextEditors()) {
        const QString program = QStandardPaths::findExecutable(editor);
        if (!program.isEmpty() && QProcess::startDetached(program, {path}))
            return true;
    }
    return false;
}
