#include "test_main.h"

#include <QDir>
#include <QTemporaryDir>

void IsolateUserFolders() {
    // Lives until the process ends; removed then.
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/quillmarsh-test-XXXXXX"));
    const QByteArray root = QFile::encodeName(home.path());
    qputenv("HOME", root);
    qputenv("XDG_CONFIG_HOME", root + "/.config");
    qputenv("XDG_DATA_HOME", root + "/.local/share");
    qputenv("XDG_CACHE_HOME", root + "/.cache");
    qputenv("XDG_RUNTIME_DIR", root + "/.runtime");
    QDir().mkpath(QString::fromLocal8Bit(root + "/.runtime"));
    QFile::setPermissions(QString::fromLocal8Bit(root + "/.runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}
