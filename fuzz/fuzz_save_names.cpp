// The name rules on names made from titles and addresses: SanitizeFileName,
// EnsureFolder (in a scratch folder) and 重命名保存路径. A cleaned name is one
// path component of at most 200 bytes (never "." or ".."), cleaning it again
// changes nothing, and no folder or file chosen ever lies outside the chosen
// folder or has a name that is empty, ".", ".." or over 255 bytes.
#include "download/save_names.h"
#include "fuzz_support.h"
#include "settings/settings_keys.h"
#include "tools/file_helpers.h"
#include "tools/prompter.h"

#include <QFileInfo>
#include <QSet>

namespace {

class QuietPrompter : public Prompter {
public:
    void message(const QString&, Icon, const QString&) override { ++messages; }
    bool askYesNo(const QString&, const QString&) override { return false; }
    std::optional<QString> inputText(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    QString openFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString saveFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString folderName(const QString&, const QString&) override { return {}; }
    int messages = 0;
};

// One component of a path the program writes.
void CheckComponent(const QString& c) {
    FUZZ_CHECK(!c.isEmpty());
    FUZZ_CHECK(c != u"." && c != u"..");
    FUZZ_CHECK(!c.contains(u'/') && !c.contains(QChar(0)));
    FUZZ_CHECK(c.toUtf8().size() <= 255);
}

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

// path is folder itself or lies below it.
bool Inside(const QString& path, const QString& folder) {
    return path == folder || path.startsWith(folder + u'/');
}

void CheckEnsureFolder(const QString& scratch, const QString& typed) {
    QuietPrompter prompter;
    const QString result = EnsureFolder(scratch + u'/' + typed, prompter);
    // The scratch folder exists, so the walk always has a folder to return.
    FUZZ_CHECK(!result.isEmpty());
    FUZZ_CHECK(Inside(result, scratch));
    FUZZ_CHECK(FolderExists(result));
    FUZZ_CHECK(
        Inside(QFileInfo(result).canonicalFilePath(), QFileInfo(scratch).canonicalFilePath()));
    if (result != scratch) {
        for (const QString& part : result.mid(scratch.size() + 1).split(u'/'))
            CheckComponent(part);
    }
    QDir dir(scratch);
    if (!dir.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        dir.removeRecursively();
        QDir().mkpath(scratch);
    }
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
    CheckComponent(file);
    CheckComponent(target.name);
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
    const QString scratch = ScratchFolder() + QStringLiteral("/chosen");
    QDir().mkpath(scratch);
    // Short enough that every folder it asks for fits the system's path limit.
    CheckEnsureFolder(scratch, TakeText(in, 1000));
    CheckRename(in, in.ConsumeBool() ? scratch : scratch + u'/');
    return 0;
}
