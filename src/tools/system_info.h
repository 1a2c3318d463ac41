#pragma once

#include <QString>
#include <QStringList>

// System-information programs tried in order.
QStringList SystemInfoPrograms();

// Full path of the first of them found on PATH, or empty text.
QString FindSystemInfoProgram();
