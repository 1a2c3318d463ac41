#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>

class RecordListModel;

// The export text: per record "title-【type】status" and CR LF, UTF-8.
QByteArray RecordExportText(const RecordListModel& records);

// bytes / 1024 in the "#,##0.0" pattern with the locale's group separator.
QString KilobytesText(qint64 bytes, const QLocale& locale = QLocale());
