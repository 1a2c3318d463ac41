#pragma once

#include <QList>
#include <QTableView>

class TaskListModel;

// ListView3: the task list as the user sees it. Rows show their state's picture,
// alternate light green and white, and running rows draw their progress behind
// the percent text. Row names cannot be edited in place.
class TaskListView : public QTableView {
    Q_OBJECT

public:
    // Rows are at least this many pixels high.
    static constexpr int RowHeight = 17;

    explicit TaskListView(TaskListModel& tasks, QWidget* parent = nullptr);

    // Selected rows, 1-based, ascending.
    QList<int> selectedRows() const;
    // The current row, 1-based; 0 when there is none.
    int currentRow() const;
    // The row a command for "the selected task" acts on: the current row when it
    // is selected, else the first selected one; 0 when nothing is selected.
    int selectedTaskRow() const;

    void repaintStripes();
    // Every column as wide as its widest cell and its header, stripes repainted.
    void autoSizeColumns();

private:
    TaskListModel& tasks_;
};
