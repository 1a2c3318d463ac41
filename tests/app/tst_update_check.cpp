#include "app/app_context.h"
#include "app/browser_profile.h"
#include "app/cover_window.h"
#include "app/update_check.h"
#include "fixture_server.h"
#include "http/xml_http.h"
#include "scripted_prompter.h"
#include "search/search_window.h"
#include "settings/settings_store.h"
#include "settings/shared_options.h"
#include "test_main.h"
#include "version.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineProfile>

namespace {

QString Version(qint64 major, qint64 minor, qint64 revision) {
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(revision);
}

// The running version moved one step up or down.
QString NewerThanRunning() {
    return Version(QUILLMARSH_VERSION_MAJOR, QUILLMARSH_VERSION_MINOR,
                   QUILLMARSH_VERSION_PATCH + 1);
}
QString OlderThanRunning() {
    if (QUILLMARSH_VERSION_PATCH > 0)
        return Version(QUILLMARSH_VERSION_MAJOR, QUILLMARSH_VERSION_MINOR,
                       QUILLMARSH_VERSION_PATCH - 1);
    if (QUILLMARSH_VERSION_MINOR > 0)
        return Version(QUILLMARSH_VERSION_MAJOR, QUILLMARSH_VERSION_MINOR - 1, 9999);
    return Version(QUILLMARSH_VERSION_MAJOR - 1, 999, 999);
}

} // namespace

class TestUpdateCheck : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    FixtureServer server_;
    FixtureServer::Response answer_;

private slots:
    void initTestCase() {
        QVERIFY(server_.start());
        server_.route(QStringLiteral("/Brindle/newver.txt"),
                      [this](const FixtureServer::Request&) { return answer_; });
    }

    void versionTextRules() {
        const qint64 running = VersionKey(3, 2, 15);
        const QList<QPair<QString, QString>> newer = {
            {QStringLiteral("3.2.16"), QStringLiteral("3.2.16")},
            {QStringLiteral("3.3.0"), QStringLiteral("3.3.0")},
            // Spaces around the text go before the length test.
            {QStringLiteral("      3.2.16      "), QStringLiteral("3.2.16")},
            {QStringLiteral("3.2.160000"), QStringLiteral("3.2.160000")}, // 10 characters
            {QStringLiteral("3.2.16\r\n"), QStringLiteral("3.2.16")},     // as editors save it
        };
        for (const auto& [text, shown] : newer)
            QCOMPARE(NewerVersion(text, running), std::optional<QString>(shown));
        for (const char* text : {"3.2.15", "3.1.999", "03.02.15", "", "3.2", "3.2.16.1", "3.2.x",
                                 "3..16", "3.2.-16", "3.2.1600000", "<b>3.2.16</b>"})
            QVERIFY2(!NewerVersion(QString::fromUtf8(text), running), text);

        QCOMPARE(ProductPageUrl(QStringLiteral("http://127.0.0.1:8080/Brindle/newver.txt?x=1")),
                 QStringLiteral("http://127.0.0.1:8080/quillmarsh/"));
        QCOMPARE(ProductPageUrl(QString()), QString());
    }

    void startWindowAsksTheServerOnce_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("newer");
        QTest::addColumn<bool>("message");
        QTest::addColumn<QString>("kept"); // the version text the window keeps
        const QString newer = NewerThanRunning();
        QTest::newRow("newer") << 200 << QStringLiteral(" ") + newer << true << false << newer;
        QTest::newRow("equal") << 200 << QStringLiteral(QUILLMARSH_VERSION_TEXT) << false << false
                               << QStringLiteral(QUILLMARSH_VERSION_TEXT);
        QTest::newRow("older") << 200 << OlderThanRunning() << false << false << OlderThanRunning();
        QTest::newRow("malformed")
            << 200 << QStringLiteral("99.x.0") << false << false << QStringLiteral("99.x.0");
        QTest::newRow("404") << 404 << newer << false << true << QString();
        // Far too large for a version file, though its text trimmed would be one:
        // no version and no network complaint either.
        QTest::newRow("over 64 KiB")
            << 200 << newer + QString(70 * 1024, u' ') << false << false << QString();
    }

    void startWindowAsksTheServerOnce() {
        QFETCH(int, status);
        QFETCH(QString, file);
        QFETCH(bool, newer);
        QFETCH(bool, message);
        QFETCH(QString, kept);
        answer_ = {};
        answer_.status = status;
        answer_.contentType = "text/plain";
        answer_.body = file.toUtf8();
        server_.log.clear();

        SettingsStore store(dir_.filePath(QStringLiteral("s.ini")));
        SharedOptions options;
        AppContext context{store,     options,
                           nullptr,   QStringLiteral("about:blank"),
                           QString(), server_.url(QStringLiteral("/Brindle/newver.txt"))};
        ScriptedPrompter prompter;
        fCover cover(context, &prompter);
        QStringList opened;
        cover.openUrl = [&opened](const QString& address) { opened << address; };
        QSignalSpy arrived(cover.uXMLHTTP2, &uXMLHTTP::OnDateArrived);
        QSignalSpy failed(cover.uXMLHTTP2, &uXMLHTTP::OnDateErr);
        cover.show();
        QTRY_VERIFY_WITH_TIMEOUT(arrived.count() + failed.count() > 0, 10000);
        // Showing the window again asks nothing more.
        cover.hide();
        cover.show();
        QTest::qWait(300);
        QCOMPARE(server_.log, QStringList{QStringLiteral("GET /Brindle/newver.txt")});
        QCOMPARE(arrived.count() + failed.count(), 1);

        if (newer) {
            QCOMPARE(opened, QStringList{server_.url(QStringLiteral("/quillmarsh/"))});
            QVERIFY(cover.Label3->isVisible());
            QCOMPARE(cover.Label3->text(), QStringLiteral("最新版本：V") + NewerThanRunning());
        } else {
            QVERIFY(opened.isEmpty());
            QVERIFY(!cover.Label3->isVisible());
        }
        if (message) {
            QCOMPARE(prompter.messages(), QStringList{QStringLiteral("请保持网络畅通！")});
            QCOMPARE(prompter.shown.first().icon, Prompter::Icon::Critical);
        } else {
            QVERIFY(prompter.shown.isEmpty());
        }
        QCOMPARE(cover.fetchedVersionText(), kept);
        QVERIFY(cover.isVisible());
    }

    void failedCheckLeavesTheStartWindowUsable() {
        answer_ = {};
        answer_.status = 404;
        SettingsStore store(dir_.filePath(QStringLiteral("s.ini")));
        SharedOptions options;
        QWebEngineProfile* profile = CreateBrowserProfile(this);
        AppContext context{store,     options,
                           profile,   QStringLiteral("about:blank"),
                           QString(), server_.url(QStringLiteral("/Brindle/newver.txt"))};
        ScriptedPrompter prompter;
        {
            fCover cover(context, &prompter);
            cover.show();
            QTRY_COMPARE_WITH_TIMEOUT(prompter.shown.size(), 1, 10000);
            cover.Command1->click();
            QVERIFY(!cover.isVisible());
            QPointer<fWebSearch> search = cover.searchWindow();
            QVERIFY(search && search->isVisible());
            search->close();
            QVERIFY(cover.isVisible());
            QTRY_VERIFY(search.isNull());
        }
        delete profile;
        QCOMPARE(prompter.shown.size(), 1);
    }

    void noAddressNoRequestAndClosingDuringTheWait() {
        // Without an address: no request, no message.
        server_.log.clear();
        SettingsStore store(dir_.filePath(QStringLiteral("s.ini")));
        SharedOptions options;
        AppContext context{store,     options,  nullptr, QStringLiteral("about:blank"),
                           QString(), QString()};
        ScriptedPrompter prompter;
        {
            fCover cover(context, &prompter);
            cover.show();
            QVERIFY(QTest::qWaitFor([&cover] { return !cover.Timer1->isActive(); }, 2000));
            QTest::qWait(200);
            QCOMPARE(cover.uXMLHTTP2->ReadyState(), 0);
        }
        QVERIFY(server_.log.isEmpty());
        QVERIFY(prompter.shown.isEmpty());

        // A window closed while the server still thinks: no message afterwards.
        answer_ = {};
        answer_.status = 404;
        answer_.delayMs = 600;
        context.updateUrl = server_.url(QStringLiteral("/Brindle/newver.txt"));
        {
            fCover cover(context, &prompter);
            cover.show();
            QTRY_COMPARE_WITH_TIMEOUT(server_.log.size(), 1, 10000);
        }
        QTest::qWait(1000);
        QVERIFY(prompter.shown.isEmpty());
    }
};

QM_TEST_WIDGETS_MAIN(TestUpdateCheck)
#include "tst_update_check.moc"
