#pragma once

#include <QString>

#include <optional>

class TaskListModel;

// Every occurrence of find in text, left to right and ignoring letter case,
// replaced by replacement (which is not searched again).
QString ReplaceIgnoringCase(const QString& text, const QString& find, const QString& replacement);

// Applies the replacement to every key and referer of the list. When two rows
// would end up with the same key nothing changes and that key is returned.
std::optional<QString> ReplaceInAllUrls(TaskListModel& tasks, const QString& find,
                                        const QString& replacement);
