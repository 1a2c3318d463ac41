#pragma once

#include <QString>

#include <optional>

// The program's own name on the maker's web site: its product page is the
// site's root followed by this and "/".
inline const QString ProductPageName = QStringLiteral("quillmarsh");
// A version file larger than this is no version file.
inline constexpr qint64 VersionFileMaxBytes = 64 * 1024;

// major × 10 000 000 + minor × 10 000 + revision
qint64 VersionKey(qint64 major, qint64 minor, qint64 revision);
// The key of the running program.
qint64 RunningVersionKey();

// The version text of a fetched version file (spaces around it removed) when it
// names a version whose key is above localKey; nothing for an equal or older
// version and for a text that is no version (empty, 11 characters or longer,
// not three numbers separated by ".").
std::optional<QString> NewerVersion(const QString& fileText, qint64 localKey);

// The product page on the site that serves versionFileUrl; empty when that
// address has no host.
QString ProductPageUrl(const QString& versionFileUrl);
