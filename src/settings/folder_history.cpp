#include "settings/folder_history.h"

#include "tools/file_helpers.h"
#include "tools/paths.h"
#include "tools/text_utils.h"

#include <QFile>
#include <QSaveFile>

QString FolderHistoryPath() {
    return DataFilePath(QString::fromLatin1(FolderHistoryFileName));
}

void LoadFolderHistory(QStringList& list, const QString& path) {
    if (!FileExists(path))
        return;
    list.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    int counted = 0;
    while (!file.atEnd()) {
        QByteArray raw = file.readLine();
        while (raw.endsWith('\n') || raw.endsWith('\r'))
            raw.chop(1);
        const QString line = TrimSpaces(QString::fromUtf8(raw));
        if (line.isEmpty())
            continue;
        if (++counted > FolderHistoryMaxLines)
            break;
        if (!list.contains(line, Qt::CaseInsensitive))
            list.append(line);
    }
}

bool SaveFolderHistory(const QStringList& list, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray bytes;
    if (list.isEmpty())
        bytes = "\r\n";
    for (const QString& entry : list)
        bytes += entry.toUtf8() + "\r\n";
    file.write(bytes);
    return file.commit();
}
