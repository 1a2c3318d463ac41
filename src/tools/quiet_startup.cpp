#include "tools/quiet_startup.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QtGlobal>

#include <cstdio>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QtMessageHandler previousHandler = nullptr;

bool IsEngineStartupNote(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (context.category && qstrcmp(context.category, "qt.webenginecontext") == 0)
        return type == QtInfoMsg || type == QtDebugMsg;
    // The engine ends some notes with a line break of its own.
    const QString note = text.trimmed();
    return note == u"Sandboxing disabled by user." || note == u"No suitable graphics backend found";
}

void FilterNotes(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (IsEngineStartupNote(type, context, text))
        return;
    if (previousHandler) {
        previousHandler(type, context, text);
        return;
    }
    const QByteArray line = qFormatLogMessage(type, context, text).toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

} // namespace

void EnsureRuntimeFolder() {
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    const uid_t uid = geteuid();
    const passwd* user = getpwuid(uid);
    const QString name =
        user && user->pw_name ? QString::fromLocal8Bit(user->pw_name) : QString::number(uid);
    const QString folder = QDir::tempPath() + QStringLiteral("/runtime-") + name;
    const QByteArray path = QFile::encodeName(folder);
    ::mkdir(path.constData(), 0700);
    struct stat info {};
    // A folder of someone else's (or a link to one) is never taken over.
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != uid)
        return;
    if ((info.st_mode & 0777) != 0700 && ::chmod(path.constData(), 0700) != 0)
        return;
    qputenv("XDG_RUNTIME_DIR", path);
}

void SilenceEngineStartupNotes() {
    previousHandler = qInstallMessageHandler(&FilterNotes);
}
