#pragma once

#include <QStyledItemDelegate>

#include <optional>

// Draws a running task's progress as a bar behind its percent text.
class ProgressBarDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    // The bar's colour (drawn under the text, so it stays light).
    static inline const QColor BarColor{120, 190, 240};

    using QStyledItemDelegate::QStyledItemDelegate;

    // The share a cell's bar covers, 0 to 100: only for a running task whose cell
    // reads "n%"; nothing otherwise (notes, empty cells, finished rows).
    static std::optional<int> BarPercent(int state, const QString& text);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};
