#include "search/record_export.h"

#include "search/record_list.h"

QByteArray RecordExportText(const RecordListModel& records) {
    QString text;
    for (int row = 1; row <= records.count(); ++row) {
        const SearchRecord& r = records.record(row);
        text += r.title + QStringLiteral("-【") + r.type + QStringLiteral("】") + r.status +
                QStringLiteral("\r\n");
    }
    return text.toUtf8();
}

QString KilobytesText(qint64 bytes, const QLocale& locale) {
    QLocale l = locale;
    l.setNumberOptions(l.numberOptions() & ~QLocale::OmitGroupSeparator);
    return l.toString(double(bytes) / 1024.0, 'f', 1);
}
