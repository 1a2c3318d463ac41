#include "tools/shell_open.h"

#include "tools/file_helpers.h"
#include "tools/prompter.h"
#include "tools/text_utils.h"
#include "tools/time_limits.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

namespace {

// Last resort when the desktop services refuse: the freedesktop opener, started
// with an argument list so nothing in the path reaches a shell.
void StartOpener(const QString& target) {
    QProcess::startDetached(QStringLiteral("xdg-open"), {target});
}

} // namespace

void OpenFileWithProgram(const QString& path, Prompter& prompter) {
    if (!FileExists(path)) {
        prompter.message(QStringLiteral("文件不存在！"), Prompter::Icon::Critical);
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        StartOpener(path);
}

bool OpenFolderAndSelect(const QString& path) {
    const QString file = TrimSpaces(path);
    if (!FileExists(file))
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(file).toString()} << QString();
    const QDBusMessage reply =
        bus.call(call, QDBus::Block, int(TimeLimits::Scaled(TimeLimits::FileManagerCall).count()));
    return reply.type() == QDBusMessage::ReplyMessage;
}

void OpenUrlInBrowser(const QString& address) {
    const QString trimmed = TrimSpaces(address);
    if (trimmed.isEmpty())
        return;
    if (!QDesktopServices::openUrl(QUrl::fromUserInput(trimmed)))
        StartOpener(trimmed);
}
