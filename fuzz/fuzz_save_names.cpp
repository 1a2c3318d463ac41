// The name rules on names made from titles and addresses: SanitizeFileName,
// CleanFileType and 重命名保存路径. A cleaned name is one path component of at
// most 200 bytes (never "." or ".."), cleaning it again changes nothing, and no
// path chosen lies outside the chosen folder or has a name that is empty, ".",
// ".." or over 255 bytes. EnsureFolder, which touches the disk, has a target of
// its own so that this one runs at the speed of the string rules.
#include "download/save_names.h"
#include "fuzz_support.h"
#include "settings/settings_keys.h"

#include <QSet>

namespace {

void CheckSanitized(const QString& name) {
    FUZZ_CHECK(name != u"." && name != u"..");
    FUZZ_CHECK(name.toUtf8().size() <= MaxNameUtf8Bytes);
    for (QChar c : name) {
        FUZZ_CHECK(!QStringView(u"\\/:*?<>|\"").contains(c));
        FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7F);
    }
    FUZZ_CHECK(!name.startsWith(u'.') && !name.endsWith(u'.'));
    FUZZ_CHECK(!name.startsWith(u' ') && !name.endsWith(u' '));
    FUZZ_CHECK(SanitizeFileName(name) == name);
}

void CheckRename(FuzzedDataProvider& in, const QString& folder) {
    const QString name = TakeText(in, 700);
    const QString type = TakeText(in, 120);
    static const QString policies[] = {DuplicateNamePolicies::Skip,
                                       DuplicateNamePolicies::Overwrite,
                                       DuplicateNamePolicies::Rename, QStringLiteral("?")};
    const QString& policy = policies[in.ConsumeIntegralInRange<int>(0, 3)];
    // Names already there: some given outright, and a run of taken answers.
    QSet<QString> takenNames;
    for (int i = in.ConsumeIntegralInRange<int>(0, 4); i > 0; --i)
        takenNames.insert(TakeText(in, 300));
    const int busyAnswers = in.ConsumeIntegralInRange<int>(0, 40);
    const QString base = folder.endsWith(u'/') ? folder : folder + u'/';
    int asked = 0;
    bool lastTaken = false;
    const auto taken = [&](const QString& path) {
        FUZZ_CHECK(path.startsWith(base));
        ++asked;
        lastTaken = asked <= busyAnswers || takenNames.contains(path.mid(base.size()));
        return lastTaken;
    };
    const SaveTarget target = 重命名保存路径(folder, name, type, policy, taken);
    FUZZ_CHECK(target.path.startsWith(base));
    const QString file = target.path.mid(base.size());
    CheckPathComponent(file);
    CheckPathComponent(target.name);
    const QString cleanType = CleanFileType(type);
    FUZZ_CHECK(file == (cleanType.isEmpty() ? target.name : target.name + u'.' + cleanType));
    if (policy != DuplicateNamePolicies::Overwrite)
        FUZZ_CHECK(asked > 0 && !lastTaken); // the name given was free when last asked
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    CheckSanitized(SanitizeFileName(TakeText(in, 2000)));
    const QString type = CleanFileType(TakeText(in, 200));
    FUZZ_CHECK(type.toUtf8().size() <= MaxTypeUtf8Bytes);
    CheckSanitized(type);
    FUZZ_CHECK(CleanFileType(type) == type);
    // Nothing here touches the disk: whether a name is taken is the fuzzer's answer.
    const QString folder = QStringLiteral("/home/用户/论文");
    CheckRename(in, in.ConsumeBool() ? folder : folder + u'/');
    return 0;
}
