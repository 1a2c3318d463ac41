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

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error) {
    QSaveFile file(path);
    const auto fail = [&file, error] {
        if (error)
            *error = file.errorString();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail();
    if (file.write(bytes) != bytes.size()) {
        const bool failed = fail();
        file.cancelWriting();
        return failed;
    }
    return file.commit() || fail();
}

NameAndType SplitNameAndType(const QString& path) {
    QString file = TrimSpaces(path);
    file = file.mid(file.lastIndexOf(u'/') + 1);
    const qsizetype dot = file.lastIndexOf(u'.');
    if (dot < 0 || file.size() - dot - 1 >= 7)
        return {QString(), TrimSpaces(file)};
    return {TrimSpaces(file.mid(dot + 1)), TrimSpaces(file.left(dot))};
}
