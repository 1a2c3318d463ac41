#include "download/task_list_view.h"

#include "download/progress_delegate.h"
#include "download/task_list.h"
#include "tools/window_helpers.h"

#include <QHeaderView>
#include <QPainter>

namespace {

QIcon StateIcon(TaskState state) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (state) {
    case TaskState::Waiting:
        p.setPen(QPen(QColor(120, 120, 120), 1.5));
        p.setBrush(QColor(235, 235, 235));
        p.drawEllipse(QRectF(2, 2, 12, 12));
        p.drawLine(QPointF(8, 8), QPointF(8, 4.5));
        p.drawLine(QPointF(8, 8), QPointF(11, 8));
        break;
    case TaskState::Downloading:
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 110, 200));
        p.drawPolygon(QPolygonF({QPointF(5, 2), QPointF(11, 2), QPointF(11, 8), QPointF(14, 8),
                                 QPointF(8, 14), QPointF(2, 8), QPointF(5, 8)}));
        break;
    case TaskState::Done:
        p.setPen(QPen(QColor(20, 150, 60), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(3, 8.5), QPointF(6.5, 12), QPointF(13, 4)}));
        break;
    case TaskState::Failed:
        p.setPen(QPen(QColor(210, 40, 40), 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
    }
    return QIcon(pixmap);
}

int TwipsToPx(int twips) {
    return twips / 15;
}

} // namespace

TaskListView::TaskListView(TaskListModel& tasks, QWidget* parent)
    : QTableView(parent)
    , tasks_(tasks) {
    setObjectName(QStringLiteral("ListView3"));
    setToolTip(QStringLiteral("双击鼠标：下载当前项或者打开文件"));
    tasks.setStateIcons({StateIcon(TaskState::Waiting), StateIcon(TaskState::Downloading),
                         StateIcon(TaskState::Done), StateIcon(TaskState::Failed)});
    setModel(&tasks);
    setItemDelegateForColumn(TaskListModel::PercentColumn, new ProgressBarDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setWordWrap(false);
    verticalHeader()->hide();
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setSortIndicatorShown(true);
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    for (int c = 0; c < TaskListModel::ColumnCount; ++c)
        setColumnWidth(c, TwipsToPx(TaskListModel::ColumnWidthTwips(c)));
    repaintStripes();
}

QList<int> TaskListView::selectedRows() const {
    QList<int> rows;
    for (const QModelIndex& i : selectionModel()->selectedRows())
        rows.append(i.row() + 1);
    std::sort(rows.begin(), rows.end());
    return rows;
}

int TaskListView::currentRow() const {
    const QModelIndex current = currentIndex();
    return current.isValid() && tasks_.count() > 0 ? current.row() + 1 : 0;
}

int TaskListView::selectedTaskRow() const {
    const QList<int> rows = selectedRows();
    if (rows.isEmpty())
        return 0;
    const int current = currentRow();
    return rows.contains(current) ? current : rows.first();
}

void TaskListView::repaintStripes() {
    PaintListStripes(this, RowHeight);
}

void TaskListView::autoSizeColumns() {
    AutoSizeColumns(this);
    repaintStripes();
}
