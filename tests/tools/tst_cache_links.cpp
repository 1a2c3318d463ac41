#include "cache_fixture.h"
#include "test_main.h"
#include "tools/browser_cache.h"
#include "tools/confined_files.h"
#include "tools/time_limits.h"
#include "web_test.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <QWebEngineProfile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Cache folders behind links, names that text cannot carry, and the running
// browser's cache under another spelling of its path.
class TestCacheLinks : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { TimeLimits::SetScale(0.05); }

    void linkedFoldersOddNamesAndTextFiles() {
        QTemporaryDir dir;
        const QString outside = dir.filePath(QStringLiteral("outside"));
        const QString lured = WriteCacheEntry(outside + QStringLiteral("/Cache_Data"),
                                              "1/0/http://h/lured.pdf", "%PDF");
        QVERIFY(!lured.isEmpty());
        const QMap<QString, QString> outsideBefore = TreeSnapshot(outside);

        // The own cache's entries folder behind a link: one row for the link,
        // deleted as a link; either step of the way may be the link.
        for (const QString& step : {QStringLiteral("Cache"), QStringLiteral("Cache/Cache_Data")}) {
            const QString profile =
                dir.filePath(QStringLiteral("profile-") + QString(step).replace(u'/', u'-'));
            QVERIFY(QDir().mkpath(profile + QStringLiteral("/Cache")));
            const QString link = profile + u'/' + step;
            QDir(link).removeRecursively();
            const QString target =
                step == u"Cache" ? outside : outside + QStringLiteral("/Cache_Data");
            QVERIFY(QFile::link(target, link));
            BrowserCacheViewer viewer(SingleFolderProfile(profile));
            Await(viewer.GetCacheURLList());
            QCOMPARE(viewer.files.rowCount(), 1);
            const CacheRow row = viewer.files.rows().at(0);
            QCOMPARE(row.filePath, link);
            QCOMPARE(row.text, QUrl::fromLocalFile(link).toString());
            QVERIFY(row.isLink);
            QVERIFY(Await(viewer.DeleteAll()).complete());
            QVERIFY(!StatEntry(link).exists);
            QCOMPARE(viewer.status, QStringLiteral("共有0 个文件"));
            QCOMPARE(TreeSnapshot(outside), outsideBefore);
        }

        // Names that are not valid text next to the names they would turn into;
        // text files by their real ending.
        const QString homes = dir.filePath(QStringLiteral("homes"));
        const QString cache = homes + QStringLiteral("/alice/") + CacheFolderBelowHome();
        const QByteArray raw = QFile::encodeName(cache);
        QVERIFY(QDir().mkpath(cache));
        auto make = [](const QByteArray& path, bool folder) {
            if (folder)
                return ::mkdir(path.constData(), 0700) == 0;
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
            return fd >= 0 && ::write(fd, path.constData(), 3) == 3 && ::close(fd) == 0;
        };
        const QByteArray replacement = "\xef\xbf\xbd"; // U+FFFD in UTF-8
        QVERIFY(make(raw + "/a\xff.bin", false));
        QVERIFY(make(raw + "/a" + replacement + ".bin", false));
        QVERIFY(make(raw + "/d\xfe", true));
        QVERIFY(make(raw + "/d\xfe/x.bin", false));
        QVERIFY(make(raw + "/d" + replacement, true));
        QVERIFY(make(raw + "/a=b.txt", false));
        QVERIFY(make(raw + "/notes.TXT", false));
        QCOMPARE(::mkfifo((raw + "/pipe").constData(), 0600), 0);
        SetHomesRoot(homes);
        BrowserCacheViewer viewer(SingleFolderProfile(dir.filePath(QStringLiteral("none"))));
        Await(viewer.ListAllUsers());
        const QString lookalike = cache + QStringLiteral("/a\uFFFD.bin");
        QStringList kept;
        int twins = 0;
        for (const CacheRow& row : viewer.files.rows()) {
            twins += row.filePath == lookalike;
            if (row.leaveAlone)
                kept.append(QFileInfo(row.filePath).fileName());
        }
        QCOMPARE(twins, 2);
        kept.sort();
        QCOMPARE(kept, (QStringList{QStringLiteral("a\uFFFD.bin"), QStringLiteral("d\uFFFD")}));
        QCOMPARE(viewer.folders, QStringList{cache + QStringLiteral("/d\uFFFD")});

        // Only plain files go to the copy tool, each by a name that leads to it.
        QList<int> all;
        for (int r = 0; r < viewer.files.rowCount(); ++r)
            all.append(r);
        QTemporaryDir staging;
        QStringList offered = Await(viewer.CopySourcesOf(all, staging.path())).files;
        offered.sort();
        QCOMPARE(offered, (QStringList{cache + QStringLiteral("/a=b.txt"), lookalike,
                                       cache + QStringLiteral("/notes.TXT")}));

        const DeletionResult result = Await(viewer.DeleteAll());
        QCOMPARE(result.left.size(), 2);
        auto exists = [](const QByteArray& path) {
            struct stat st {};
            return ::lstat(path.constData(), &st) == 0;
        };
        // The file of the valid name and its emptied twin folder went; the others
        // were never touched by a name that leads elsewhere.
        QVERIFY(!exists(raw + "/a" + replacement + ".bin"));
        QVERIFY(!exists(raw + "/d" + replacement));
        QVERIFY(exists(raw + "/a\xff.bin"));
        QVERIFY(exists(raw + "/d\xfe/x.bin"));
        QVERIFY(exists(raw + "/a=b.txt"));
        QVERIFY(exists(raw + "/notes.TXT"));
        QVERIFY(!exists(raw + "/pipe"));
        QCOMPARE(viewer.status, QStringLiteral("共有4 个文件，其中 2 个未能删除"));
        SetHomesRoot(QString::fromLatin1(SystemHomesRoot));
    }

    void runningCacheKnownUnderAnotherPath() {
        // The running browser's cache reached through another spelling of its
        // path (the homes root is a link): its files still wait for idle pages.
        QTemporaryDir dir;
        const QString homes = dir.filePath(QStringLiteral("homes"));
        const QString cache = homes + QStringLiteral("/alice/") + CacheFolderBelowHome();
        const QString entry = WriteCacheEntry(cache + QStringLiteral("/Cache/Cache_Data"),
                                              "1/0/http://h/live.html", "<p>");
        QVERIFY(QFile::link(homes, dir.filePath(QStringLiteral("homes-link"))));
        QWebEngineProfile profile(QStringLiteral("Identity"));
        profile.setCachePath(cache);
        SetHomesRoot(dir.filePath(QStringLiteral("homes-link")));
        BrowserCacheViewer viewer(SingleFolderProfile(dir.filePath(QStringLiteral("none"))));
        viewer.setProfile(&profile);
        viewer.pagesLoading = [] { return true; };
        Await(viewer.ListAllUsers());
        QCOMPARE(viewer.files.rowCount(), 1);
        const DeletionResult result = Await(viewer.DeleteAll());
        SetHomesRoot(QString::fromLatin1(SystemHomesRoot));
        QVERIFY(!result.pagesIdle);
        QCOMPARE(result.left.size(), 1);
        QVERIFY(QFile::exists(entry));
    }
};

QM_TEST_GUI_MAIN(TestCacheLinks)
#include "tst_cache_links.moc"
