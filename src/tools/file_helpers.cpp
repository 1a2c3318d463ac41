#include "tools/file_helpers.h"

#include "tools/text_utils.h"

#include <QFileInfo>
#include <QSaveFile>

bool FileExists(const QString& path) {
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

bool FolderExists(const QString& path) {
    if (path.isEmpty())
        return false;
    return QFileInfo(path).isDir();
}

bool AnythingExists(const QString& path) {
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

NameAndType SplitNameAndType(const QString& path) {
    QString file = TrimSpaces(path);
    file = file.mid(file.lastIndexOf(u'/') + 1);
    const qsizetype dot = file.lastIndexOf(u'.');
    if (dot < 0 || file.size() - dot - 1 >= 7)
        return {QString(), TrimSpaces(file)};
    return {TrimSpaces(file.mid(dot + 1)), TrimSpaces(file.left(dot))};
}
