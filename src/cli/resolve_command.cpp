#include "cli/cli_command.h"

#include "app/browser_page.h"
#include "search/pdf_link_resolver.h"
#include "search/search_flags.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QUrl>
#include <QWebEngineProfile>

namespace {

QCoro::Task<int> Resolve(QStringList addresses) {
    QWebEngineProfile profile; // off the record: a batch run leaves nothing behind
    BrowserPage page(&profile);
    PdfLinkResolver::PrepareHiddenBrowser(&page);
    SearchFlags flags;
    flags.setStopAnalysis(false);
    PdfLinkResolver resolver(&page, flags);
    for (const QString& address : addresses) {
        // A local file named here is the user's choice; pages never get to name one.
        const bool local = QFileInfo::exists(address);
        const QString target =
            local ? QUrl::fromLocalFile(QFileInfo(address).absoluteFilePath()).toString() : address;
        resolver.setLocalFilesAllowed(local);
        const QString pdf = co_await resolver.获取PDF下载网址(target);
        PrintTo(stdout, CliField(address) + u'\t' + CliField(pdf) + u'\n');
        std::fflush(stdout);
    }
    co_return 0;
}

} // namespace

// quillmarsh-cli resolve URL...: one line a URL, the URL, a tab and the PDF
// address its landing page offers (empty when none).
int RunResolveCommand(const QStringList& arguments) {
    if (arguments.isEmpty() || arguments.first().startsWith(u'-')) {
        PrintTo(stderr, QStringLiteral("Usage: quillmarsh-cli resolve URL...\n"));
        return 2;
    }
    int status = 1;
    QCoro::connect(Resolve(arguments), qApp, [&status](int result) {
        status = result;
        QCoreApplication::exit(result);
    });
    QCoreApplication::exec();
    return status;
}
