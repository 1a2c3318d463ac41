// The version file of the update check, as any server may answer it, and URL
// replace over a download list.
#include "app/update_check.h"
#include "download/task_list.h"
#include "download/url_replace.h"
#include "fuzz_support.h"

#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <array>

namespace {

void CheckVersion(FuzzedDataProvider& in) {
    const QString text = TakeText(in, 64);
    const qint64 localParts[3] = {in.ConsumeIntegralInRange<qint64>(0, 999),
                                  in.ConsumeIntegralInRange<qint64>(0, 999),
                                  in.ConsumeIntegralInRange<qint64>(0, 9999)};
    const qint64 local = VersionKey(localParts[0], localParts[1], localParts[2]);
    const std::optional<QString> newer = NewerVersion(text, local);
    // A plain "a.b.c" within the key's fields (and the rule's length) is newer
    // exactly when it is above the local version, part by part.
    static const QRegularExpression plain(QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,4})$"));
    if (const QRegularExpressionMatch m = plain.match(text); m.hasMatch() && text.size() < 11) {
        const std::array<qint64, 3> given = {m.captured(1).toLongLong(), m.captured(2).toLongLong(),
                                             m.captured(3).toLongLong()};
        const std::array<qint64, 3> mine = {localParts[0], localParts[1], localParts[2]};
        FUZZ_CHECK(newer.has_value() == (given > mine));
    }
    if (newer) {
        // Three runs of digits, as short as the rule allows, above the local key.
        FUZZ_CHECK(!newer->isEmpty() && newer->size() < 11 && *newer == newer->trimmed());
        const QStringList parts = newer->split(u'.');
        FUZZ_CHECK(parts.size() == 3);
        qint64 numbers[3] = {};
        for (int i = 0; i < 3; ++i) {
            bool ok = false;
            numbers[i] = parts.at(i).trimmed().toLongLong(&ok);
            FUZZ_CHECK(ok && numbers[i] >= 0);
        }
        FUZZ_CHECK(VersionKey(numbers[0], numbers[1], numbers[2]) > local);
    }
    const QString page = ProductPageUrl(TakeText(in, 200));
    FUZZ_CHECK(page.isEmpty() || page.endsWith(u'/' + ProductPageName + u'/'));
}

void CheckReplace(FuzzedDataProvider& in) {
    const QString find = TakeText(in, 40);
    const QString replacement = TakeText(in, 40);
    TaskListModel tasks;
    for (int i = in.ConsumeIntegralInRange<int>(0, 6); i > 0; --i)
        tasks.appendTask(TakeText(in, 120), QStringLiteral("n"), QStringLiteral("pdf"),
                         QStringLiteral("/f/"), TakeText(in, 60));
    QStringList before;
    for (int row = 1; row <= tasks.count(); ++row)
        before << tasks.task(row).url;

    const std::optional<QString> clash = ReplaceInAllUrls(tasks, find, replacement);
    QSet<QString> keys;
    for (int row = 1; row <= tasks.count(); ++row) {
        const QString& url = tasks.task(row).url;
        FUZZ_CHECK(!keys.contains(url)); // keys stay unique
        keys.insert(url);
        FUZZ_CHECK(tasks.rowOf(url) == row);
        if (clash)
            FUZZ_CHECK(url == before.at(row - 1)); // a clash changes nothing
        else
            FUZZ_CHECK(url == ReplaceIgnoringCase(before.at(row - 1), find, replacement));
    }
    if (find.isEmpty() || before.join(QChar(0)).indexOf(find, 0, Qt::CaseInsensitive) < 0)
        FUZZ_CHECK(!clash);
    for (const QString& text : std::as_const(before)) {
        const QString replaced = ReplaceIgnoringCase(text, find, replacement);
        if (find.isEmpty() || !text.contains(find, Qt::CaseInsensitive))
            FUZZ_CHECK(replaced == text);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    CheckVersion(in);
    CheckReplace(in);
    return 0;
}
