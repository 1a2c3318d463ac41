#include "cli/cli_command.h"

#include "app/browser_page.h"
#include "app/certificate_guard.h"
#include "app/page_document.h"
#include "search/result_parser.h"
#include "tools/time_limits.h"
#include "tools/wait.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSet>
#include <QUrl>
#include <QWebEngineProfile>

namespace {

QCoro::Task<int> Parse(QString target, bool checkedOnly) {
    QWebEngineProfile profile; // off the record: a batch run leaves nothing behind
    BrowserPage page(&profile);
    page.setSilent(true);
    // Nobody to ask: an untrusted certificate refuses the page, and stderr says so.
    QObject::connect(new CertificateGuard(&page, nullptr), &CertificateGuard::StatusText,
                     [](const QString& text) {
                         PrintTo(stderr, QStringLiteral("quillmarsh-cli: %1\n").arg(text));
                     });
    const QUrl url = QFileInfo::exists(target)
                         ? QUrl::fromLocalFile(QFileInfo(target).absoluteFilePath())
                         : QUrl::fromUserInput(target);
    bool loaded = false;
    QObject::connect(&page, &BrowserPage::DocumentComplete, &page, [&loaded] { loaded = true; });
    page.setUrl(url);
    const auto limit = TimeLimits::Scaled(TimeLimits::NextPageLoad);
    co_await WaitForSignal(&page, &BrowserPage::DocumentComplete, limit);
    if (!loaded) {
        PrintTo(stderr, QStringLiteral("quillmarsh-cli: %1 did not load\n").arg(target));
        co_return 1;
    }
    const auto document = co_await page.Document();
    if (!document) {
        PrintTo(stderr, QStringLiteral("quillmarsh-cli: %1 could not be read\n").arg(target));
        co_return 1;
    }
    // As the list takes them: a second hit with the same full-text link adds nothing.
    QSet<QString> seen;
    for (const ParsedHit& hit : ParseResultHits(*document, checkedOnly)) {
        if (seen.contains(hit.link))
            continue;
        seen.insert(hit.link);
        PrintTo(stdout, hit.title + u'\t' + hit.link + u'\n');
    }
    co_return 0;
}

} // namespace

// quillmarsh-cli parse FILE|URL [--checked-only]: one hit a line, title, tab, full-text link.
int RunParseCommand(const QStringList& arguments) {
    QStringList rest = arguments;
    const bool checkedOnly = rest.removeAll(QStringLiteral("--checked-only")) > 0;
    if (rest.size() != 1) {
        PrintTo(stderr, QStringLiteral("Usage: quillmarsh-cli parse FILE|URL [--checked-only]\n"));
        return 2;
    }
    int status = 1;
    QCoro::connect(Parse(rest.first(), checkedOnly), qApp, [&status](int result) {
        status = result;
        QCoreApplication::exit(result);
    });
    QCoreApplication::exec();
    return status;
}
