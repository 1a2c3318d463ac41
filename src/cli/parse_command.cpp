#include "cli/cli_command.h"

#include "app/browser_page.h"
#include "app/certificate_guard.h"
#include "app/page_document.h"
#include "search/result_parser.h"
#include "tools/time_limits.h"
#include "tools/wait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QSet>
#include <QUrl>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>

#include <memory>
#include <optional>

namespace {

QCoro::Task<int> Parse(QString target, QUrl url, bool checkedOnly) {
    QWebEngineProfile profile; // off the record: a batch run leaves nothing behind
    BrowserPage page(&profile);
    page.setSilent(true);
    // Nobody to ask: an untrusted certificate refuses the page, and stderr says
    // so, once (the guard says it again when the refused load ends, for status bars).
    auto* guard = new CertificateGuard(&page, nullptr);
    auto told = std::make_shared<QSet<QString>>();
    QObject::connect(guard, &CertificateGuard::StatusText, guard, [told](const QString& text) {
        if (told->contains(text))
            return;
        told->insert(text);
        PrintTo(stderr, QStringLiteral("quillmarsh-cli: %1\n").arg(text));
    });
    // The outcome of the last top-level load that ended; recorded before the
    // wait below resumes, as the wait listens to the same signal.
    std::optional<QWebEngineLoadingInfo> ended;
    QObject::connect(&page, &QWebEnginePage::loadingChanged, &page,
                     [&ended](const QWebEngineLoadingInfo& info) {
                         if (info.status() != QWebEngineLoadingInfo::LoadStartedStatus)
                             ended = info;
                     });
    page.setUrl(url);
    const QDeadlineTimer deadline(TimeLimits::Scaled(TimeLimits::NextPageLoad));
    while (!ended && !deadline.hasExpired()) {
        co_await WaitForSignal(&page, &QWebEnginePage::loadingChanged,
                               std::chrono::milliseconds(deadline.remainingTime()));
    }
    if (!ended) {
        PrintTo(stderr, QStringLiteral("quillmarsh-cli: %1 did not load\n").arg(target));
        co_return 1;
    }
    if (ended->status() != QWebEngineLoadingInfo::LoadSucceededStatus) {
        // A refused certificate has been told already.
        if (told->isEmpty()) {
            // The engine's text for an HTTP status is its error page's markup.
            const QString why = ended->errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain
                                    ? QStringLiteral("HTTP %1").arg(ended->errorCode())
                                : ended->errorString().isEmpty()
                                    ? QStringLiteral("error %1").arg(ended->errorCode())
                                    : ended->errorString();
            PrintTo(stderr,
                    QStringLiteral("quillmarsh-cli: %1 did not load: %2\n").arg(target, why));
        }
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
        PrintTo(stdout, CliField(hit.title) + u'\t' + CliField(hit.link) + u'\n');
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
    const QString target = rest.first();
    const QUrl url = QFileInfo::exists(target)
                         ? QUrl::fromLocalFile(QFileInfo(target).absoluteFilePath())
                         : QUrl::fromUserInput(target);
    if (!url.isValid() || url.isEmpty() || (IsWebAddress(url) && url.host().isEmpty())) {
        PrintTo(stderr, QStringLiteral("quillmarsh-cli: %1 did not load: no such file or address\n")
                            .arg(target));
        return 1;
    }
    int status = 1;
    QCoro::connect(Parse(target, url, checkedOnly), qApp, [&status](int result) {
        status = result;
        QCoreApplication::exit(result);
    });
    QCoreApplication::exec();
    return status;
}
