#pragma once

#include <QString>

// The running operating system's name, for example "Debian GNU/Linux 12 (bookworm)".
QString GetOSName();
