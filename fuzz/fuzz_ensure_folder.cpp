// EnsureFolder on a folder typed by the user, in a scratch folder that already
// holds some folders: the folder it returns always exists, never lies outside the
// chosen folder (by name or through a link), every component is a name the
// program may write, and it makes no folder but the ones it returns.
#include "download/save_names.h"
#include "fuzz_support.h"
#include "tools/file_helpers.h"
#include "tools/prompter.h"

#include <sys/stat.h>

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

// path holds exactly count folders. The walk makes nothing but folders, and a
// folder's link count says how many it holds without listing it (listing is
// what makes a run slow); a file system that does not count them is listed.
bool HasFolders(const QString& path, qsizetype count) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    if (st.st_nlink >= 2)
        return st.st_nlink == nlink_t(2 + count);
    return QDir(path)
               .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
               .size() == count;
}

} // namespace

// Qt warns of every name with a NUL in it, and typed text has plenty.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QString scratch = ScratchFolder() + QStringLiteral("/chosen");
    // Folders the user already has, with names the cleaning would change: a walk
    // through them takes them as they are. They stay for every input.
    static const QStringList existing = [] {
        const QStringList names = {QStringLiteral(".local"), QStringLiteral("a:b"),
                                   QStringLiteral("x."), QStringLiteral("论文 ")};
        for (const QString& name : names)
            QDir().mkpath(scratch + u'/' + name);
        return names;
    }();

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
    if (result != scratch) {
        for (const QString& part : result.mid(scratch.size() + 1).split(u'/'))
            CheckPathComponent(part);
    }
    // The walk makes one chain of folders, the one it returns, below the folders
    // that were there: removing that chain from its end leaves only those. Each
    // removal also proves a real folder, not a link that might lead out: with no
    // "." or ".." in it, the path stays inside however the system resolves it.
    for (QString made = result; made != scratch; made.truncate(made.lastIndexOf(u'/'))) {
        if (existing.contains(made.mid(scratch.size() + 1)))
            break;
        FUZZ_CHECK(QDir().rmdir(made));
    }
    FUZZ_CHECK(HasFolders(scratch, existing.size()));
    for (const QString& name : existing)
        FUZZ_CHECK(HasFolders(scratch + u'/' + name, 0));
    return 0;
}
