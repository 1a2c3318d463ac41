#include "app/update_check.h"

#include "tools/text_utils.h"
#include "version.h"

#include <QStringList>
#include <QUrl>

namespace {

// A part of the version text: decimal digits. White space around them is
// allowed, so a file that ends in a line break, as editors write it, still counts.
std::optional<qint64> VersionPart(const QString& text) {
    const QString digits = text.trimmed();
    if (digits.isEmpty())
        return std::nullopt;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const qint64 value = digits.toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

} // namespace

qint64 VersionKey(qint64 major, qint64 minor, qint64 revision) {
    return major * 10000000 + minor * 10000 + revision;
}

qint64 RunningVersionKey() {
    return VersionKey(QUILLMARSH_VERSION_MAJOR, QUILLMARSH_VERSION_MINOR, QUILLMARSH_VERSION_PATCH);
}

std::optional<QString> NewerVersion(const QString& fileText, qint64 localKey) {
    const QString version = TrimSpaces(fileText);
    if (version.isEmpty() || version.size() >= 11)
        return std::nullopt;
    const QStringList parts = version.split(u'.');
    if (parts.size() != 3)
        return std::nullopt;
    qint64 numbers[3];
    for (int i = 0; i < 3; ++i) {
        const auto number = VersionPart(parts.at(i));
        if (!number)
            return std::nullopt;
        numbers[i] = *number;
    }
    if (VersionKey(numbers[0], numbers[1], numbers[2]) <= localKey)
        return std::nullopt;
    return version.trimmed();
}

QString ProductPageUrl(const QString& versionFileUrl) {
    const QUrl file(versionFileUrl);
    if (!file.isValid() || file.host().isEmpty())
        return {};
    QUrl page;
    page.setScheme(file.scheme());
    page.setHost(file.host());
    page.setPort(file.port());
    page.setPath(u'/' + ProductPageName + u'/');
    return page.toString();
}
