#include "app/app_context.h"
#include "app/browser_page.h"
#include "app/browser_view.h"
#include "app/certificate_guard.h"
#include "scripted_prompter.h"
#include "search/search_window.h"
#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "test_main.h"
#include "tls_server.h"
#include "web_test.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEngineProfile>

namespace {

QString When(const QDateTime& t) {
    return t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

// The page engine's title of what the page shows.
QString TitleOf(BrowserPage* page) {
    return Evaluate(page, QStringLiteral("document.title")).toString();
}

} // namespace

class TestCertificateGuard : public QObject {
    Q_OBJECT

    TlsFixtureServer tls_;
    QTemporaryDir dir_;

private slots:
    void initTestCase() { QVERIFY(tls_.start()); }

    void silentPaneRefusesAndSaysWhy() {
        // Each case has a profile of its own: an accepted certificate is
        // remembered by the profile.
        QWebEngineProfile profile;
        auto page = std::make_unique<BrowserPage>(&profile);
        page->setSilent(true);
        ScriptedPrompter prompter;
        auto* guard = new CertificateGuard(page.get(), &prompter);
        QSignalSpy status(guard, &CertificateGuard::StatusText);
        const QString url = tls_.url(QStringLiteral("/secret.html"));

        page->Navigate(url);
        QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty(), 15000);
        const QString text = status.last().first().toString();
        QVERIFY2(text.contains(QStringLiteral("已拒绝打开“127.0.0.1”的网页")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("证书不是由受信任的机构颁发的")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("此浏览器禁止弹出提示")), qPrintable(text));
        QVERIFY(prompter.shown.isEmpty());
        QVERIFY(TitleOf(page.get()) != QStringLiteral("Secret page"));
        QCOMPARE(tls_.requests, 0);
    }

    void askingPaneContinuesOnlyWhenTheUserSaysYes() {
        QWebEngineProfile profile;
        auto page = std::make_unique<BrowserPage>(&profile);
        page->setSilent(false);
        ScriptedPrompter prompter;
        auto* guard = new CertificateGuard(page.get(), &prompter);
        QSignalSpy status(guard, &CertificateGuard::StatusText);
        const QString url = tls_.url(QStringLiteral("/secret.html"));

        prompter.queue(false);
        page->Navigate(url);
        QTRY_COMPARE_WITH_TIMEOUT(prompter.shown.size(), 1, 15000);
        QCOMPARE(prompter.shown.first().kind, QStringLiteral("yesno"));
        const QString question = prompter.shown.first().text;
        for (const QString& part :
             {QStringLiteral("“127.0.0.1”"), QStringLiteral("证书不是由受信任的机构颁发的"),
              QStringLiteral("证书颁发给：127.0.0.1，Quillmarsh Test"),
              QStringLiteral("有效期：") + When(tls_.certificate().effectiveDate()) +
                  QStringLiteral(" 至 ") + When(tls_.certificate().expiryDate()),
              QStringLiteral("是否仍然继续打开此网页？")}) {
            QVERIFY2(question.contains(part), qPrintable(question + QStringLiteral(" / ") + part));
        }
        QTRY_VERIFY(!status.isEmpty());
        QTRY_VERIFY(!page->Busy());
        QVERIFY(!status.last().first().toString().contains(QStringLiteral("未询问")));
        QVERIFY(status.last().first().toString().contains(QStringLiteral("已拒绝打开")));
        const qsizetype refusals = status.count();
        QVERIFY(TitleOf(page.get()) != QStringLiteral("Secret page"));
        QCOMPARE(tls_.requests, 0);

        prompter.queue(true);
        page->Navigate(url);
        QTRY_COMPARE_WITH_TIMEOUT(prompter.shown.size(), 2, 15000);
        QCOMPARE(prompter.pendingAnswers(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(TitleOf(page.get()), QStringLiteral("Secret page"), 15000);
        QVERIFY(tls_.requests > 0);
        QCOMPARE(status.count(), refusals);
    }

    void searchWindowFollowsItsSilentBox() {
        auto* profile = new QWebEngineProfile(this);
        SettingsStore store(dir_.filePath(QStringLiteral("s.ini")));
        store.setText(SettingKeys::PromptSaveFolder(), QStringLiteral("0"));
        SharedOptions options;
        AppContext context{store, options, profile, QStringLiteral("about:blank"), QString()};
        ScriptedPrompter prompter;
        {
            QWidget start;
            fWebSearch w(context, &start, &prompter);
            w.setAttribute(Qt::WA_DeleteOnClose, false);
            w.show();
            BrowserPage* page = w.WebBrowser1->browser();
            const QString url = tls_.url(QStringLiteral("/search.html"));

            // "禁止浏览器弹出脚本提示" is on: refused, the status bar says why.
            QVERIFY(w.Check2->isChecked());
            page->Navigate(url);
            QTRY_VERIFY_WITH_TIMEOUT(
                w.StatusPanel2->text().contains(QStringLiteral("此浏览器禁止弹出提示")), 15000);
            // It stays there after the refused load has ended.
            QTRY_VERIFY(!page->Busy());
            QTest::qWait(200);
            QVERIFY(w.StatusPanel2->text().contains(QStringLiteral("此浏览器禁止弹出提示")));
            QVERIFY(prompter.shown.isEmpty());

            // The hidden browser never asks, whatever the box says.
            w.Check2->setChecked(false);
            w.StatusPanel2->clear();
            w.Web2->Navigate(url);
            QTRY_VERIFY_WITH_TIMEOUT(w.StatusPanel2->text().contains(QStringLiteral("已拒绝打开")),
                                     15000);
            QTRY_VERIFY(!w.Web2->Busy());
            QVERIFY(prompter.shown.isEmpty());

            // Off: the user is asked, and "no" is told in the status bar too.
            prompter.queue(false);
            w.StatusPanel2->clear();
            page->Navigate(url);
            QTRY_COMPARE_WITH_TIMEOUT(prompter.shown.size(), 1, 15000);
            QTRY_VERIFY(w.StatusPanel2->text().contains(QStringLiteral("已拒绝打开")));
            QVERIFY(!w.StatusPanel2->text().contains(QStringLiteral("未询问")));
        }
        delete profile;
        QVERIFY(!tls_.log.contains(QStringLiteral("GET /search.html")));
    }
};

QM_TEST_WIDGETS_MAIN(TestCertificateGuard)
#include "tst_certificate_guard.moc"
