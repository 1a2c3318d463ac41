#pragma once

#include <QString>

// The file name at the end of an address ("/" and "\" both separate), trimmed;
// without its last extension when dropExtension. "a/article.pdf?x=1" gives "article".
QString FileNameFromAddress(const QString& address, bool dropExtension);

// text without any carriage return, line feed or NUL character.
QString RemoveLineBreaks(const QString& text);
