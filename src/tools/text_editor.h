#pragma once

#include <QString>
#include <QStringList>

// Plain text editors tried, in order, when the desktop names none.
QStringList KnownTextEditors();

// Opens path in the desktop's plain text editor (whatever the file's own type),
// started with an argument list; false when no editor could be started.
bool OpenInTextEditor(const QString& path);
