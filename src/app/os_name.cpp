#include "app/os_name.h"

#include <QSysInfo>

QString GetOSName() {
    const QString name = QSysInfo::prettyProductName();
    return name.isEmpty() ? QStringLiteral("Unknown System Version!") : name;
}
