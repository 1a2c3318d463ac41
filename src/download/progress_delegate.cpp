#include "download/progress_delegate.h"

#include "download/task_list.h"

#include <QApplication>
#include <QPainter>

std::optional<int> ProgressBarDelegate::BarPercent(int state, const QString& text) {
    if (state != int(TaskState::Downloading) || !text.endsWith(u'%'))
        return std::nullopt;
    bool ok = false;
    const int percent = QStringView(text).chopped(1).toInt(&ok);
    if (!ok)
        return std::nullopt;
    return std::clamp(percent, 0, 100);
}

void ProgressBarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const auto percent = BarPercent(index.data(TaskListModel::StateRole).toInt(), opt.text);
    if (!percent) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    // Background and selection first, then the bar, then the text over both.
    QStyleOptionViewItem background = opt;
    background.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    painter->save();
    QRect bar = opt.rect.adjusted(2, 2, -2, -2);
    bar.setWidth(bar.width() * *percent / 100);
    painter->fillRect(bar, BarColor);
    const bool selected = opt.state & QStyle::State_Selected;
    painter->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(opt.font);
    const QRect textRect =
        style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget).adjusted(3, 0, -3, 0);
    painter->drawText(textRect, int(opt.displayAlignment), opt.text);
    painter->restore();
}
