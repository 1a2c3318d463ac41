#pragma once

#include <QString>

// Removes leading and trailing spaces (U+0020) only; tabs and line breaks stay.
QString TrimSpaces(const QString& text);

// True for a non-empty run of ASCII digits, spaces around it allowed.
bool IsDigitsOnly(const QString& text);

// Decimal text of value with at least minDigits digits, zero-padded on the left.
QString ZeroPadded(qint64 value, int minDigits);

// The first count UTF-16 units of text, one fewer when the cut would split a
// surrogate pair: half a character would reach the disk as U+FFFD.
QString LeftWhole(const QString& text, qsizetype count);
