// EnsureFolder on a folder typed by the user, in a scratch folder: the folder it
// returns always exists, never lies outside the chosen folder (by name or through
// a link), and every component it made is a name the program may write.
#include "download/save_names.h"
#include "fuzz_support.h"
#include "tools/file_helpers.h"
#include "tools/prompter.h"

#include <QFileInfo>

namespace {

class QuietPrompter : public Prompter {
public:
    void message(const QString&, Icon, const QString&) override {}
    bool askYesNo(const QString&, const QString&) override { return false; }
    std::optional<QString> inputText(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    QString openFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString saveFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString folderName(const QString&, const QString&) override { return {}; }
};

// path is folder itself or lies below it.
bool Inside(const QString& path, const QString& folder) {
    return path == folder || path.startsWith(folder + u'/');
}

} // namespace

// Qt warns of every name with a NUL in it, and typed text has plenty.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Made once; emptied again after every input that left something in it.
    static const QString scratch = [] {
        const QString path = ScratchFolder() + QStringLiteral("/chosen");
        QDir().mkpath(path);
        return path;
    }();
    static const QString canonicalScratch = QFileInfo(scratch).canonicalFilePath();

    FuzzedDataProvider in(data, size);
    // Short enough that every folder it asks for fits the system's path limit, long
    // enough for a component far over the name limit. Deeper paths only make each
    // run slower without reaching other code.
    const QString typed = TakeText(in, 600);
    QuietPrompter prompter;
    const QString result = EnsureFolder(scratch + u'/' + typed, prompter);
    // The scratch folder exists, so the walk always has a folder to return.
    FUZZ_CHECK(!result.isEmpty());
    FUZZ_CHECK(Inside(result, scratch));
    FUZZ_CHECK(FolderExists(result));
    FUZZ_CHECK(Inside(QFileInfo(result).canonicalFilePath(), canonicalScratch));
    if (result != scratch) {
        for (const QString& part : result.mid(scratch.size() + 1).split(u'/'))
            CheckPathComponent(part);
    }
    // The walk makes one chain of folders, the one it returns: removing that chain
    // from its end must leave the scratch folder empty. Anything else it made is
    // cleared the slow way (listing every folder is what makes a run expensive).
    for (QString made = result; made != scratch; made.truncate(made.lastIndexOf(u'/')))
        QDir().rmdir(made);
    QDir dir(scratch);
    if (!dir.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        dir.removeRecursively();
        QDir().mkpath(scratch);
    }
    return 0;
}
