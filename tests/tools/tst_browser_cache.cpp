#include "app/browser_page.h"
#include "app/browser_profile.h"
#include "cache_fixture.h"
#include "fixture_server.h"
#include "test_main.h"
#include "tools/browser_cache.h"
#include "tools/cache_entry.h"
#include "tools/cookie_source.h"
#include "tools/time_limits.h"
#include "web_test.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QWebEngineProfile>
#include <QtEndian>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray PageHtml = "<html><head><link rel=stylesheet href='/style.css?v=2'>"
                            "<script src='/lib.js'></script></head>"
                            "<body><img src='/pics/photo.png'></body></html>";

FixtureServer::Response Cached(const QByteArray& type, const QByteArray& body) {
    FixtureServer::Response r;
    r.contentType = type;
    r.body = body;
    r.headers.append(qMakePair(QByteArray("Cache-Control"), QByteArray("max-age=3600")));
    return r;
}

int RowOf(const BrowserCacheViewer& viewer, const QString& text) {
    const QList<CacheRow>& rows = viewer.files.rows();
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (rows.at(i).text == text)
            return int(i);
    }
    return -1;
}

QStringList Texts(const BrowserCacheViewer& viewer) {
    QStringList texts;
    for (const CacheRow& row : viewer.files.rows())
        texts.append(row.text);
    return texts;
}

} // namespace

class TestBrowserCache : public QObject {
    Q_OBJECT

    FixtureServer server_;

private slots:
    void initTestCase() {
        TimeLimits::SetScale(0.05);
        QVERIFY(server_.start());
        server_.route(QStringLiteral("/page.html"), [](const FixtureServer::Request&) {
            FixtureServer::Response r = Cached("text/html", PageHtml);
            r.headers.append(
                qMakePair(QByteArray("Set-Cookie"), QByteArray("sid=abc; Path=/; Max-Age=3600")));
            return r;
        });
        server_.route(QStringLiteral("/lib.js"), [](const FixtureServer::Request&) {
            FixtureServer::Response r =
                Cached("text/javascript", QByteArray("var x = 1;\n").repeated(40));
            r.gzip = true;
            return r;
        });
        server_.route(QStringLiteral("/style.css"), [](const FixtureServer::Request&) {
            return Cached("text/css", "body{color:red}");
        });
        server_.route(QStringLiteral("/pics/photo.png"), [](const FixtureServer::Request&) {
            return Cached("image/png", QByteArray(4000, 'p'));
        });
        server_.route(QStringLiteral("/slow.html"), [](const FixtureServer::Request&) {
            FixtureServer::Response r = Cached("text/html", "<html>slow</html>");
            r.delayMs = 300;
            return r;
        });
        server_.route(QStringLiteral("/stall.html"), [](const FixtureServer::Request&) {
            FixtureServer::Response r = Cached("text/html", "<html>stall</html>");
            r.delayMs = 20000;
            return r;
        });
    }

    void engineEntriesCookiesAndVisitedAddresses() {
        QWebEngineProfile* profile = CreateBrowserProfile(this);
        // The viewer finds the program's profile where the program puts it.
        QCOMPARE(FoldersOf(profile).cache, ProgramProfileFolders().cache);
        QCOMPARE(FoldersOf(profile).storage, ProgramProfileFolders().storage);

        BrowserPage page(profile);
        const QString pageUrl = server_.url(QStringLiteral("/page.html"));
        const QString cssUrl = server_.url(QStringLiteral("/style.css?v=2"));
        const QString pngUrl = server_.url(QStringLiteral("/pics/photo.png"));
        const QString jsUrl = server_.url(QStringLiteral("/lib.js"));
        QVERIFY(LoadAndWait(&page, pageUrl));

        BrowserCacheViewer viewer(FoldersOf(profile));
        viewer.setProfile(profile);
        viewer.pagesLoading = [&page] { return page.Busy(); };
        QStandardItemModel visited;
        const QString policy = QStringLiteral("http://127.0.0.1/cookie-policy.html");
        visited.appendRow(new QStandardItem(pageUrl));
        visited.appendRow(new QStandardItem(policy));
        viewer.setVisitedAddresses(&visited);

        const QString cookie = QStringLiteral("Cookie:sid@127.0.0.1/");
        QStringList seen;
        int polls = 0;
        QTRY_VERIFY2_WITH_TIMEOUT(
            [&] {
                // A resource the loaded machine failed to fetch is fetched again.
                if (++polls % 60 == 0 && !page.Busy())
                    page.triggerAction(QWebEnginePage::Reload);
                Await(viewer.GetCacheURLList());
                seen = Texts(viewer);
                return seen.contains(pageUrl) && seen.contains(cssUrl) && seen.contains(pngUrl) &&
                       seen.contains(jsUrl) && seen.contains(cookie);
            }(),
            qPrintable(seen.join(u' ')), 20000);
        QCOMPARE(viewer.tag, QStringLiteral("我的缓存"));
        QCOMPARE(viewer.status, QStringLiteral("共有%1 个文件").arg(viewer.files.rowCount()));
        const QString entries = CacheEntryFolder(profile->cachePath());
        const QStringList types = {QStringLiteral("html"), QStringLiteral("css"),
                                   QStringLiteral("png")};
        QStringList entryFiles;
        for (const QString& url : {pageUrl, cssUrl, pngUrl}) {
            const CacheRow& row = viewer.files.rows().at(RowOf(viewer, url));
            QCOMPARE(row.type, types.at(entryFiles.size()));
            QCOMPARE(QFileInfo(row.filePath).absolutePath(), entries);
            QCOMPARE(row.size, QFileInfo(row.filePath).size());
            entryFiles.append(row.filePath);
        }
        QVERIFY(viewer.files.rows().at(RowOf(viewer, cookie)).filePath.isEmpty());

        // The copy tool gets an entry's content under its address's name, not the
        // engine's entry file; a compressed one is left out and named.
        QTemporaryDir staging;
        const QList<int> chosen = {RowOf(viewer, pngUrl), RowOf(viewer, jsUrl),
                                   RowOf(viewer, pageUrl), RowOf(viewer, cookie)};
        CopySources sources = Await(viewer.CopySourcesOf(chosen, staging.path()));
        QCOMPARE(sources.leftOut, QStringList{jsUrl});
        QMap<QString, QByteArray> staged;
        for (const QString& file : sources.files) {
            QVERIFY2(file.startsWith(staging.path() + u'/'), qPrintable(file));
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadOnly));
            staged.insert(QFileInfo(file).fileName(), f.readAll());
        }
        QCOMPARE(staged,
                 (QMap<QString, QByteArray>{{QStringLiteral("page.html"), PageHtml},
                                            {QStringLiteral("photo.png"), QByteArray(4000, 'p')}}));
        // A body that no longer matches its checksum is not handed on.
        {
            const QString entry = viewer.files.rows().at(RowOf(viewer, pngUrl)).filePath;
            QFile f(entry);
            QVERIFY(f.open(QIODevice::ReadWrite));
            const quint32 keyLength = qFromLittleEndian<quint32>(f.read(24).constData() + 12);
            QVERIFY(f.seek(24 + keyLength + 100));
            f.write("q");
        }
        sources = Await(viewer.CopySourcesOf({RowOf(viewer, pngUrl)}, staging.path()));
        QCOMPARE(sources.leftOut, QStringList{pngUrl});
        QVERIFY(sources.files.isEmpty());
        QVERIFY(Texts(viewer).contains(QStringLiteral("Visited:") + pageUrl));

        // A page that finishes loading is waited for; then only the chosen entry goes.
        page.Navigate(server_.url(QStringLiteral("/slow.html")));
        QTRY_VERIFY(page.Busy());
        QVERIFY(Await(viewer.DeleteRows({RowOf(viewer, pngUrl)})).complete());
        QVERIFY(!page.Busy());
        QVERIFY(!QFile::exists(entryFiles.at(2)));
        QVERIFY(QFile::exists(entryFiles.at(0)) && QFile::exists(entryFiles.at(1)));
        QVERIFY(!Texts(viewer).contains(pngUrl));

        // A page that keeps loading: the running browser's files stay, and the caller learns so.
        page.Navigate(server_.url(QStringLiteral("/stall.html")));
        QTRY_VERIFY(page.Busy());
        const DeletionResult waited = Await(viewer.DeleteRows({RowOf(viewer, cssUrl)}));
        QVERIFY(!waited.pagesIdle);
        QCOMPARE(waited.left, QStringList{entryFiles.at(1)});
        QVERIFY(QFile::exists(entryFiles.at(1)));
        page.triggerAction(QWebEnginePage::Stop);
        QTRY_VERIFY(!page.Busy());

        // Everything: entries and visited addresses go, cookies never.
        QVERIFY(Await(viewer.DeleteAll()).complete());
        for (const QString& file : entryFiles)
            QVERIFY2(!QFile::exists(file), qPrintable(file));
        QVERIFY(!Texts(viewer).contains(pageUrl));
        QVERIFY(Texts(viewer).contains(cookie));
        QCOMPARE(visited.rowCount(), 1);
        QCOMPARE(visited.item(0)->text(), policy);
        QVERIFY(LiveCookies::of(profile)->cookies().contains(
            CookieId{QStringLiteral("sid"), QStringLiteral("127.0.0.1"), QStringLiteral("/")}));
    }

    void runningCacheKeepsWorkingAfterClearingAllUsers() {
        // A profile of the kind the program runs, its cache in a user's home.
        QTemporaryDir dir;
        const QString homes = dir.filePath(QStringLiteral("homes"));
        const QString cache = homes + QStringLiteral("/alice/") + CacheFolderBelowHome();
        QWebEngineProfile profile(QStringLiteral("Alice"));
        profile.setPersistentStoragePath(dir.filePath(QStringLiteral("alice-data")));
        profile.setCachePath(cache);
        profile.setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        BrowserPage page(&profile);
        QVERIFY(LoadAndWait(&page, server_.url(QStringLiteral("/page.html"))));
        const QString entries = CacheEntryFolder(cache);
        auto entryFiles = [&entries] {
            return QDir(entries).entryList({QStringLiteral("*_0")}, QDir::Files);
        };
        QTRY_VERIFY_WITH_TIMEOUT(!entryFiles().isEmpty(), 15000);

        SetHomesRoot(homes);
        BrowserCacheViewer viewer(SingleFolderProfile(dir.filePath(QStringLiteral("none"))));
        viewer.setProfile(&profile);
        viewer.pagesLoading = [&page] { return page.Busy(); };
        Await(viewer.ListAllUsers());
        QCOMPARE(viewer.users.size(), 1);
        // Entries the engine writes after the listing are not the deletion's.
        QStringList listed;
        for (const CacheRow& row : viewer.files.rows()) {
            if (row.filePath.endsWith(QStringLiteral("_0")))
                listed.append(QFileInfo(row.filePath).fileName());
        }
        QVERIFY(!listed.isEmpty());
        QVERIFY(Await(viewer.DeleteAll()).complete());
        SetHomesRoot(QString::fromLatin1(SystemHomesRoot));
        for (const QString& name : entryFiles())
            QVERIFY2(!listed.contains(name), qPrintable(name));
        // The running browser still caches what it loads next.
        QVERIFY(LoadAndWait(&page, server_.url(QStringLiteral("/style.css?v=3"))));
        QTRY_VERIFY_WITH_TIMEOUT(!entryFiles().isEmpty(), 15000);
    }

    void craftedEntriesAreReadNeverGuessed() {
        QTemporaryDir dir;
        const QString profile = dir.filePath(QStringLiteral("profile"));
        const QString entries = profile + QStringLiteral("/Cache/Cache_Data");
        const QString outside = dir.filePath(QStringLiteral("outside"));

        const QString good = WriteCacheEntry(entries, "1/0/http://h/files/paper.pdf?id=3", "%PDF");
        const QString goodCompanion = good.left(good.size() - 1) + u'1';
        QFile(good).copy(goodCompanion);
        const QString partitioned = WriteCacheEntry(
            entries, "1/0/_dk_http://site.example http://site.example http://cdn.example/lib.js",
            "js");
        // A well-formed entry under a name its key does not hash to.
        const QString moved = WriteCacheEntry(entries, "1/0/http://h/moved.png", "png");
        QVERIFY(QFile::rename(moved, entries + QStringLiteral("/0123456789abcdef_0")));
        QFile junk(entries + QStringLiteral("/fedcba9876543210_0"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(100, 'x'));
        junk.close();
        // A link named exactly like the entry it points to, outside: never followed.
        const QString lure = WriteCacheEntry(outside, "1/0/http://h/lure.jpg", "jpg");
        QCOMPARE(::symlink(QFile::encodeName(lure).constData(),
                           QFile::encodeName(entries + u'/' + QFileInfo(lure).fileName())),
                 0);
        QCOMPARE(::mkfifo(QFile::encodeName(entries + QStringLiteral("/00000000000000bb_0")), 0600),
                 0);
        QVERIFY(WriteCookieDatabase(
            profile + QStringLiteral("/Cookies"),
            {{QStringLiteral("sid"), QStringLiteral("127.0.0.1"), QStringLiteral("/")},
             {QStringLiteral("pref"), QStringLiteral(".example.com"), QStringLiteral("/docs")}}));
        const QMap<QString, QString> outsideBefore = TreeSnapshot(outside);

        BrowserCacheViewer viewer(SingleFolderProfile(profile));
        Await(viewer.GetCacheURLList());
        QCOMPARE(viewer.status, QStringLiteral("共有8 个文件"));
        int unreadable = 0;
        for (const CacheRow& row : viewer.files.rows()) {
            if (row.kind == CacheRowKind::CacheEntry && row.text.isEmpty()) {
                ++unreadable;
                QVERIFY(row.filePath.isEmpty());
                QCOMPARE(row.size, -1);
            }
        }
        QCOMPARE(unreadable, 4);
        const CacheRow& paper =
            viewer.files.rows().at(RowOf(viewer, "http://h/files/paper.pdf?id=3"));
        QCOMPARE(paper.type, QStringLiteral("pdf"));
        QCOMPARE(paper.filePath, good);
        QCOMPARE(paper.size, QFileInfo(good).size());
        QCOMPARE(viewer.files.rows().at(RowOf(viewer, "http://cdn.example/lib.js")).type,
                 QStringLiteral("js"));
        QVERIFY(RowOf(viewer, QStringLiteral("Cookie:pref@.example.com/docs")) >= 0);
        QVERIFY(RowOf(viewer, QStringLiteral("Cookie:sid@127.0.0.1/")) >= 0);
        // An entry without the engine's end records has no content known to be whole.
        QTemporaryDir staging;
        const CopySources sources = Await(
            viewer.CopySourcesOf({RowOf(viewer, "http://h/files/paper.pdf?id=3")}, staging.path()));
        QCOMPARE(sources.leftOut, QStringList{QStringLiteral("http://h/files/paper.pdf?id=3")});
        QVERIFY(sources.files.isEmpty());

        QVERIFY(Await(viewer.DeleteAll()).complete());
        QVERIFY(!QFile::exists(good) && !QFile::exists(goodCompanion));
        QVERIFY(!QFile::exists(partitioned));
        QCOMPARE(
            RelativeEntries(entries),
            (QStringList{QStringLiteral("00000000000000bb_0"), QStringLiteral("0123456789abcdef_0"),
                         QFileInfo(lure).fileName(), QStringLiteral("fedcba9876543210_0")}));
        QCOMPARE(TreeSnapshot(outside), outsideBefore);
        QCOMPARE(viewer.status, QStringLiteral("共有6 个文件"));

        // A cookie store that cannot be read is an error, not an empty list.
        QFile broken(profile + QStringLiteral("/Cookies"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write(QByteArray(4096, 'z'));
        broken.close();
        Await(viewer.GetCacheURLList());
        QCOMPARE(viewer.status, QStringLiteral("出错!!!共有4 个文件"));
    }

    void allUsersStayInsideTheirCacheFolders() {
        QTemporaryDir dir;
        const HostileHomes t = MakeHostileHomes(dir.path());
        // What a later swap of a listed folder for a link would expose.
        QFile swapped(t.outside + QStringLiteral("/swap/to-others"));
        QVERIFY(QDir().mkpath(t.outside + QStringLiteral("/swap")) &&
                swapped.open(QIODevice::WriteOnly));
        swapped.write("must stay");
        swapped.close();
        const QMap<QString, QString> outsideBefore = TreeSnapshot(t.outside);
        SetHomesRoot(t.homes);

        BrowserCacheViewer viewer(SingleFolderProfile(dir.filePath(QStringLiteral("none"))));
        Await(viewer.ListAllUsers());
        QCOMPARE(viewer.tag, QStringLiteral("所有缓存"));
        QCOMPARE(viewer.profiles,
                 (QStringList{t.homes + QStringLiteral("/alice"), t.homes + QStringLiteral("/bob"),
                              t.homes + QStringLiteral("/carol")}));
        QCOMPARE(viewer.users.size(), 1);
        QCOMPARE(viewer.users.at(0).user, QStringLiteral("alice"));
        QCOMPARE(viewer.users.at(0).folder, t.cache + u'/');

        QStringList listed;
        const QList<CacheRow> rows = viewer.files.rows();
        QCOMPARE(rows.size(), 12);
        for (const CacheRow& row : rows.mid(0, 10)) {
            QCOMPARE(row.text, QStringLiteral("用户:alice"));
            QVERIFY2(row.filePath.startsWith(t.cache + u'/'), qPrintable(row.filePath));
            listed.append(QDir(t.cache).relativeFilePath(row.filePath));
            if (row.isLink)
                QCOMPARE(row.size, QFile::symLinkTarget(row.filePath).size());
            else
                QCOMPARE(row.size, QFileInfo(row.filePath).size());
        }
        const QString entry = CacheEntryFileName("1/0/http://h/a.html");
        QCOMPARE(
            listed,
            (QStringList{QStringLiteral("cookies.txt"), QStringLiteral("dangling"),
                         QStringLiteral("readonly.gif"), QStringLiteral("to-file.pdf"),
                         QStringLiteral("to-folder"), QStringLiteral("Cache/Cache_Data/") + entry,
                         QStringLiteral("Cache/Cache_Data/index"), QStringLiteral("sub/notes.TXT"),
                         QStringLiteral("sub/to-others"), QStringLiteral("sub/deeper/page.htm")}));
        QCOMPARE(viewer.files.rows().at(3).type, QStringLiteral("pdf"));
        // Caches reached only through a link are named, never walked into: bob's
        // ".cache" and dave's home are links.
        const QStringList linked = {t.homes + QStringLiteral("/bob/.cache"),
                                    t.homes + QStringLiteral("/dave")};
        for (int i : {10, 11}) {
            QCOMPARE(rows.at(i).text,
                     i == 10 ? QStringLiteral("用户:bob") : QStringLiteral("用户:dave"));
            QCOMPARE(rows.at(i).filePath, linked.at(i - 10));
            QVERIFY(rows.at(i).isLink && rows.at(i).leaveAlone);
        }
        QCOMPARE(viewer.status, QStringLiteral("共有12 个文件"));
        // Real folders only, each parent before its subfolders.
        QStringList folders;
        for (const QString& f : viewer.folders)
            folders.append(QDir(t.cache).relativeFilePath(f));
        QCOMPARE(
            folders,
            (QStringList{QStringLiteral("Cache"), QStringLiteral("empty"), QStringLiteral("sub"),
                         QStringLiteral("Cache/Cache_Data"), QStringLiteral("empty/nested"),
                         QStringLiteral("empty/nested/deepest"), QStringLiteral("sub/deeper")}));

        // Three chosen rows go, each by its own path; emptied folders follow.
        QVERIFY(Await(viewer.DeleteRows({3, 2, 9})).complete());
        QCOMPARE(RelativeEntries(t.cache),
                 (QStringList{QStringLiteral("Cache"), QStringLiteral("Cache/Cache_Data"),
                              QStringLiteral("Cache/Cache_Data/") + entry,
                              QStringLiteral("Cache/Cache_Data/index"),
                              QStringLiteral("cookies.txt"), QStringLiteral("dangling"),
                              QStringLiteral("sub"), QStringLiteral("sub/notes.TXT"),
                              QStringLiteral("sub/to-others"), QStringLiteral("to-folder")}));
        QCOMPARE(viewer.files.rowCount(), 9);

        // A listed folder swapped for a link before the deletion leads nowhere.
        QVERIFY(
            QFile::rename(t.cache + QStringLiteral("/sub"), dir.filePath(QStringLiteral("away"))));
        QVERIFY(QFile::link(t.outside + QStringLiteral("/swap"), t.cache + QStringLiteral("/sub")));
        QCOMPARE(Await(viewer.DeleteAll()).left, linked);
        // Now the swapped-in link itself, as a link; the links to other users'
        // caches stay, and the status line says so.
        QCOMPARE(Await(viewer.DeleteAll()).left, linked);
        QCOMPARE(RelativeEntries(t.cache), QStringList{QStringLiteral("cookies.txt")});
        QCOMPARE(TreeSnapshot(t.outside), outsideBefore);
        QCOMPARE(viewer.status, QStringLiteral("共有3 个文件，其中 2 个未能删除"));
        SetHomesRoot(QString::fromLatin1(SystemHomesRoot));
    }

    void typesSortingAndStatus() {
        const QList<QPair<QString, QString>> types = {
            {QStringLiteral("http://h/files/paper.pdf?id=3"), QStringLiteral("pdf")},
            {QStringLiteral("http://h/dir/noext"), QString()},
            {QStringLiteral("https://h/a.b/c.tar.gz#part.x"), QStringLiteral("gz")},
            {QStringLiteral("/var/cache/data.backup12"), QString()},
            {QStringLiteral("http://gw/http://site/x.pdf"), QString()},
            {QStringLiteral("Cookie:sid@h/"), QString()},
            {QStringLiteral("C:\\win\\FILE.HTM"), QStringLiteral("HTM")},
            {QStringLiteral("http://h/a.php?x=y.pdf"), QStringLiteral("php")},
        };
        for (const auto& [text, type] : types)
            QCOMPARE(AddressType(text), type);
        QCOMPARE(CacheTexts::Status(0, false), QStringLiteral("共有0 个文件"));

        CacheRowModel model;
        QList<CacheRow> rows;
        for (const auto& [text, size] : QList<QPair<QString, qint64>>{{QStringLiteral("b"), 9},
                                                                      {QStringLiteral("C"), 100},
                                                                      {QStringLiteral("a"), 10},
                                                                      {QStringLiteral("d"), -1}}) {
            CacheRow row;
            row.text = text;
            row.size = size;
            rows.append(row);
        }
        model.setRows(rows);
        QItemSelectionModel selection(&model);
        selection.select(model.index(0, 0),
                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
        auto column = [&model](int c) {
            QStringList out;
            for (int r = 0; r < model.rowCount(); ++r)
                out.append(model.index(r, c).data().toString());
            return out;
        };
        model.toggleSort(CacheRowModel::SizeColumn);
        QCOMPARE(column(CacheRowModel::SizeColumn),
                 (QStringList{QStringLiteral("100"), QStringLiteral("10"), QStringLiteral("9"),
                              QString()}));
        model.toggleSort(CacheRowModel::SizeColumn);
        QCOMPARE(column(CacheRowModel::SizeColumn),
                 (QStringList{QString(), QStringLiteral("9"), QStringLiteral("10"),
                              QStringLiteral("100")}));
        // The selection moved with its row.
        QCOMPARE(selection.selectedRows().value(0).data().toString(), QStringLiteral("b"));
        // Any other column next: descending first, as text without regard to case.
        model.toggleSort(CacheRowModel::UrlColumn);
        QCOMPARE(column(CacheRowModel::UrlColumn),
                 (QStringList{QStringLiteral("d"), QStringLiteral("C"), QStringLiteral("b"),
                              QStringLiteral("a")}));
        QCOMPARE(model.data(model.index(0, CacheRowModel::SizeColumn), Qt::TextAlignmentRole)
                         .value<Qt::Alignment>() &
                     Qt::AlignRight,
                 Qt::AlignRight);
    }
};

QM_TEST_GUI_MAIN(TestBrowserCache)
#include "tst_browser_cache.moc"
