#include "download/url_replace.h"

#include "download/task_list.h"

QString ReplaceIgnoringCase(const QString& text, const QString& find, const QString& replacement) {
    if (find.isEmpty())
        return text;
    return QString(text).replace(find, replacement, Qt::CaseInsensitive);
}

std::optional<QString> ReplaceInAllUrls(TaskListModel& tasks, const QString& find,
                                        const QString& replacement) {
    return tasks.replaceUrls(
        [&](const QString& url) { return ReplaceIgnoringCase(url, find, replacement); });
}
