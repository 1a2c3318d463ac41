#pragma once

#include <QList>
#include <QString>

#include <functional>

class RecordListModel;
struct SearchRecord;

// 1-based rows whose record matches, in list order.
QList<int> MatchingRows(const RecordListModel& records,
                        const std::function<bool(const SearchRecord&)>& match);

// Removes every matching record in one change; returns how many went.
int SweepRecords(RecordListModel& records, const std::function<bool(const SearchRecord&)>& match);

// Title tests of the clean-up commands (letter case ignored).
bool TitleContains(const SearchRecord& record, const QString& text);
