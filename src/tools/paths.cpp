#include "tools/paths.h"

#include <QDir>
#include <QStandardPaths>

QString DataFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (folder.isEmpty())
        folder = QDir::home().filePath(QStringLiteral(".local/share/Quillmarsh"));
    QDir().mkpath(folder);
    return folder;
}

QString DataFilePath(const QString& fileName) {
    return QDir(DataFolder()).filePath(fileName);
}

QString HomeFolder() {
    return QDir::homePath();
}

QString JoinFilePath(const QString& folder, const QString& name, const QString& type) {
    QString path = folder;
    if (!path.isEmpty() && !path.endsWith(u'/'))
        path += u'/';
    path += name;
    if (!type.isEmpty())
        path += u'.' + type;
    return path;
}
