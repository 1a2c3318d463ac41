#include "app/app_context.h"
#include "app/browser_page.h"
#include "app/browser_view.h"
#include "app/certificate_guard.h"
#include "fixture_server.h"
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

// A user who takes a while to answer: each question stays open until ready()
// says so (or 20 s have passed), as a modal dialog would.
class SlowPrompter : public ScriptedPrompter {
public:
    std::function<bool()> ready;
    bool askYesNo(const QString& text, const QString& title) override {
        if (ready)
            (void)QTest::qWaitFor(ready, 20000);
        return ScriptedPrompter::askYesNo(text, title);
    }
};

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

    void oneYesServesEveryPaneOfTheProfile() {
        QWebEngineProfile profile;
        ScriptedPrompter prompter;
        auto asking = std::make_unique<BrowserPage>(&profile);
        asking->setSilent(false);
        new CertificateGuard(asking.get(), &prompter);
        auto silent = std::make_unique<BrowserPage>(&profile);
        silent->setSilent(true);
        auto* silentGuard = new CertificateGuard(silent.get(), &prompter);
        QSignalSpy silentStatus(silentGuard, &CertificateGuard::StatusText);

        // The question says how far a "yes" reaches.
        prompter.queue(true);
        asking->Navigate(tls_.url(QStringLiteral("/first.html")));
        QTRY_COMPARE_WITH_TIMEOUT(prompter.shown.size(), 1, 15000);
        const QString question = prompter.shown.first().text;
        QVERIFY2(question.contains(QStringLiteral("在本程序退出之前，所有浏览器窗格")),
                 qPrintable(question));
        QTRY_COMPARE_WITH_TIMEOUT(TitleOf(asking.get()), QStringLiteral("Secret page"), 15000);
        const QList<CertificateErrorKey> accepted = AcceptedCertificates::of(&profile)->entries();
        QCOMPARE(accepted.size(), 1);
        QCOMPARE(accepted.first().host, QStringLiteral("127.0.0.1"));
        QCOMPARE(accepted.first().port, QUrl(tls_.url(QString())).port());
        QCOMPARE(accepted.first().sha256, tls_.certificate().digest(QCryptographicHash::Sha256));

        // The pane that never asks opens the site now, and its status bar says why.
        silent->Navigate(tls_.url(QStringLiteral("/second.html")));
        QTRY_COMPARE_WITH_TIMEOUT(TitleOf(silent.get()), QStringLiteral("Secret page"), 15000);
        QTRY_VERIFY(!silentStatus.isEmpty());
        QCOMPARE(silentStatus.last().first().toString(),
                 AcceptedCertificateNote(QStringLiteral("127.0.0.1")));
        QVERIFY(AcceptedCertificateNote(QStringLiteral("127.0.0.1"))
                    .contains(QStringLiteral("已接受“127.0.0.1”的不可信证书")));
        QCOMPARE(prompter.shown.size(), 1);

        // Another site's pages in that pane carry no such note.
        FixtureServer plain;
        QVERIFY(plain.start());
        plain.page(QStringLiteral("/plain.html"), "<html><title>Plain</title></html>");
        const qsizetype notes = silentStatus.count();
        silent->Navigate(plain.url(QStringLiteral("/plain.html")));
        QTRY_COMPARE_WITH_TIMEOUT(TitleOf(silent.get()), QStringLiteral("Plain"), 15000);
        QTest::qWait(100);
        QCOMPARE(silentStatus.count(), notes);

        // Another profile has accepted nothing: its silent pane still refuses.
        QWebEngineProfile other;
        BrowserPage otherPage(&other);
        otherPage.setSilent(true);
        QSignalSpy otherStatus(new CertificateGuard(&otherPage, &prompter),
                               &CertificateGuard::StatusText);
        otherPage.Navigate(tls_.url(QStringLiteral("/third.html")));
        QTRY_VERIFY_WITH_TIMEOUT(!otherStatus.isEmpty(), 15000);
        QVERIFY(otherStatus.last().first().toString().contains(QStringLiteral("已拒绝打开")));
        QVERIFY(AcceptedCertificates::of(&other)->entries().isEmpty());
    }

    void oneAnswerServesOnlyTheSameCertificate() {
        // Two sites on one host, each with a certificate of its own, in frames
        // of one page: both wait while the first question is open.
        TlsFixtureServer second;
        QVERIFY(second.start());
        QVERIFY(second.certificate() != tls_.certificate());
        FixtureServer plain;
        QVERIFY(plain.start());
        plain.page(QStringLiteral("/frames.html"),
                   "<html><body><iframe src='" + tls_.url(QStringLiteral("/a.html")).toUtf8() +
                       "'></iframe><iframe src='" + second.url(QStringLiteral("/b.html")).toUtf8() +
                       "'></iframe></body></html>");
        QWebEngineProfile profile;
        BrowserPage page(&profile);
        page.setSilent(false);
        int errors = 0;
        connect(&page, &QWebEnginePage::certificateError, this, [&errors] { ++errors; });
        SlowPrompter prompter;
        prompter.ready = [&errors] { return errors >= 2; };
        new CertificateGuard(&page, &prompter);
        prompter.queue(true);
        prompter.queue(false);
        const int earlier = tls_.requests;
        page.Navigate(plain.url(QStringLiteral("/frames.html")));
        QTRY_COMPARE_WITH_TIMEOUT(prompter.shown.size(), 2, 30000);
        QCOMPARE(errors, 2);
        // Whichever came first got the "yes"; the other certificate was refused.
        const auto first = [&] { return tls_.requests - earlier; };
        QTRY_VERIFY_WITH_TIMEOUT(first() + second.requests > 0, 15000);
        QTest::qWait(500);
        QVERIFY2((first() > 0) != (second.requests > 0),
                 qPrintable(QStringLiteral("%1 %2").arg(first()).arg(second.requests)));
        QCOMPARE(AcceptedCertificates::of(&profile)->entries().size(), 1);
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

            // After a "yes" the hidden browser and the silenced visible one open
            // the site without asking, and the status bar says so.
            prompter.queue(true);
            page->Navigate(url);
            QTRY_COMPARE_WITH_TIMEOUT(prompter.shown.size(), 2, 15000);
            QTRY_COMPARE_WITH_TIMEOUT(TitleOf(page), QStringLiteral("Secret page"), 15000);
            const QString note = AcceptedCertificateNote(QStringLiteral("127.0.0.1"));
            w.StatusPanel2->clear();
            w.Web2->Navigate(tls_.url(QStringLiteral("/hidden.html")));
            QTRY_COMPARE_WITH_TIMEOUT(w.StatusPanel2->text(), note, 15000);
            w.Check2->setChecked(true);
            w.StatusPanel2->clear();
            page->Navigate(tls_.url(QStringLiteral("/again.html")));
            QTRY_COMPARE_WITH_TIMEOUT(w.StatusPanel2->text(), note, 15000);
            QCOMPARE(prompter.shown.size(), 2);
        }
        delete profile;
        QCOMPARE(tls_.log.count(QStringLiteral("GET /search.html")), 1);
    }
};

QM_TEST_WIDGETS_MAIN(TestCertificateGuard)
#include "tst_certificate_guard.moc"
