#pragma once

#include <QList>

#include <algorithm>

// The 1-based row numbers among rows that exist in a list of count rows, sorted,
// each once.
inline QList<int> ValidRows(QList<int> rows, int count) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(
        std::remove_if(rows.begin(), rows.end(), [count](int r) { return r < 1 || r > count; }),
        rows.end());
    return rows;
}

// Removes the rows named by ValidRows from list in one pass.
template <typename T> void RemoveRows(QList<T>& list, const QList<int>& validRows) {
    QList<T> kept;
    kept.reserve(list.size() - validRows.size());
    qsizetype next = 0;
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (next < validRows.size() && validRows.at(next) == i + 1) {
            ++next;
            continue;
        }
        kept.append(std::move(list[i]));
    }
    list = std::move(kept);
}
