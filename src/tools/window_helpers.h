#pragma once

#include <QColor>
#include <QString>

class QAbstractItemView;
class QTableView;

// The light green of the striped lists.
inline const QColor StripeColor(231, 248, 237);

// Alternating light-green and white rows, at least rowHeight pixels high.
void PaintListStripes(QAbstractItemView* list, int rowHeight);

// Every column as wide as its contents and its header.
void AutoSizeColumns(QTableView* list);

// A window of the program with that objectName exists (shown or hidden); case ignored.
bool IsFormLoaded(const QString& name);

// "caption-Quillmarsh"
QString WindowCaption(const QString& caption);
