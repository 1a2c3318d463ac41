#include "download/row_file_types.h"

#include "download/file_type.h"
#include "download/save_names.h"
#include "download/task_list.h"
#include "tools/file_helpers.h"
#include "tools/paths.h"

#include <QFile>

bool CorrectRowType(TaskListModel& tasks, int row) {
    if (row < 1 || row > tasks.count())
        return false;
    const DownloadTask& t = tasks.task(row);
    const QString path = t.filePath();
    if (!FileExists(path))
        return false;
    const QString detected = 打开文件判断文件类型(path);
    if (detected.isEmpty() || detected.compare(t.type, Qt::CaseInsensitive) == 0)
        return false;
    const QString target = UniqueFilePath(JoinFilePath(t.folder, t.name, detected));
    if (!QFile::rename(path, target) || !FileExists(target))
        return false;
    tasks.editTask(row, [&](DownloadTask& task) {
        task.type = detected;
        task.name = SplitNameAndType(target).name;
        if (task.savedPath == path)
            task.savedPath = target; // still the file it wrote, under its new name
    });
    // Another row that wrote the file moved has lost it, and one that once wrote
    // the name it now has (deleted since) never owned this file: neither may delete it.
    for (int other = 1; other <= tasks.count(); ++other) {
        const QString& saved = tasks.task(other).savedPath;
        if (other != row && (saved == path || saved == target))
            tasks.editTask(other, [](DownloadTask& task) { task.savedPath.clear(); });
    }
    return true;
}

int CorrectAllRowTypes(TaskListModel& tasks) {
    int corrected = 0;
    for (int row = 1; row <= tasks.count(); ++row) {
        if (CorrectRowType(tasks, row))
            ++corrected;
    }
    return corrected;
}

void CheckFilesExist(TaskListModel& tasks) {
    tasks.editRows([](DownloadTask& t) {
        // The type as the row has it: "x.PDF" and "x.pdf" are different files here.
        if (!FileExists(t.filePath()))
            t.percent = QStringLiteral("不存在");
    });
}

bool BaseReferenceStep(TaskListModel& tasks, int row) {
    if (row < 1 || row > tasks.count())
        return false;
    const DownloadTask& t = tasks.task(row);
    const QString type = t.type.toLower();
    if ((type != u"htm" && type != u"html") || t.marker != u"Y")
        return false;
    const QString path = JoinFilePath(t.folder, t.name, type);
    QFile file(path);
    if (!FileExists(path) || !file.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = file.readAll();
    file.close();
    // Worked on as bytes, so a page in any encoding keeps every other byte as it was.
    const qsizetype head = bytes.toLower().indexOf("</head>");
    if (head < 0)
        return false;
    bytes.insert(head, "<Base href='" + t.url.toUtf8() + "'>");
    return WriteFileAtomically(path, bytes);
}
