#include "search/address_names.h"

#include "tools/text_utils.h"

QString FileNameFromAddress(const QString& address, bool dropExtension) {
    QString text = address;
    text.replace(u'/', u'\\');
    const qsizetype slash = text.lastIndexOf(u'\\');
    if (slash >= 0)
        text = TrimSpaces(text.mid(slash + 1));
    if (dropExtension) {
        const qsizetype dot = text.lastIndexOf(u'.');
        if (dot >= 0)
            text = TrimSpaces(text.left(dot));
    }
    return text;
}

QString RemoveLineBreaks(const QString& text) {
    QString out = text;
    out.remove(u'\r').remove(u'\n').remove(QChar(u'\0'));
    return out;
}
