#include "tools/window_helpers.h"

#include <QApplication>
#include <QHeaderView>
#include <QTableView>
#include <QWidget>

void PaintListStripes(QAbstractItemView* list, int rowHeight) {
    if (!list)
        return;
    QPalette palette = list->palette();
    palette.setColor(QPalette::Base, StripeColor);
    palette.setColor(QPalette::AlternateBase, Qt::white);
    list->setPalette(palette);
    list->setAlternatingRowColors(true);
    if (auto* table = qobject_cast<QTableView*>(list)) {
        // Text must not be clipped where the font is taller than the row.
        const int height = std::max(rowHeight, table->fontMetrics().height() + 4);
        table->verticalHeader()->setMinimumSectionSize(1);
        table->verticalHeader()->setDefaultSectionSize(height);
    }
}

void AutoSizeColumns(QTableView* list) {
    if (list)
        list->resizeColumnsToContents();
}

bool IsFormLoaded(const QString& name) {
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [&name](const QWidget* w) {
        return w->objectName().compare(name, Qt::CaseInsensitive) == 0;
    });
}

QString WindowCaption(const QString& caption) {
    return caption + QStringLiteral("-Quillmarsh");
}
