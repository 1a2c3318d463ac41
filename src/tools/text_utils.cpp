#include "tools/text_utils.h"

QString TrimSpaces(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ')
        ++begin;
    while (end > begin && text.at(end - 1) == u' ')
        --end;
    return text.mid(begin, end - begin);
}

bool IsDigitsOnly(const QString& text) {
    const QString t = TrimSpaces(text);
    if (t.isEmpty())
        return false;
    for (QChar c : t) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

QString ZeroPadded(qint64 value, int minDigits) {
    return QStringLiteral("%1").arg(value, minDigits, 10, QLatin1Char('0'));
}

QString LeftWhole(const QString& text, qsizetype count) {
    if (count <= 0)
        return {};
    if (count < text.size() && text.at(count - 1).isHighSurrogate() &&
        text.at(count).isLowSurrogate())
        --count;
    return text.left(count);
}
