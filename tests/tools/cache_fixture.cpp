#include "cache_fixture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtEndian>

#include <sys/stat.h>
#include <unistd.h>

namespace {

void Write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

void Link(const QString& target, const QString& link) {
    QDir().mkpath(QFileInfo(link).absolutePath());
    ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData());
}

} // namespace

QString WriteCacheEntry(const QString& folder, const QByteArray& key, const QByteArray& body) {
    const QByteArray digest = QCryptographicHash::hash(key, QCryptographicHash::Sha1);
    const QString name = QStringLiteral("%1_0").arg(qFromLittleEndian<quint64>(digest.constData()),
                                                    16, 16, QLatin1Char('0'));
    QByteArray header(24, '\0');
    qToLittleEndian<quint64>(0xfcfb6d1ba7725c30ULL, header.data());
    qToLittleEndian<quint32>(5, header.data() + 8);
    qToLittleEndian<quint32>(quint32(key.size()), header.data() + 12);
    const QString path = QDir(folder).filePath(name);
    Write(path, header + key + body);
    return path;
}

bool WriteCookieDatabase(const QString& path, const QList<QStringList>& cookies) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("w"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            ok = q.exec(QStringLiteral("CREATE TABLE cookies(creation_utc INTEGER NOT NULL, "
                                       "host_key TEXT NOT NULL, name TEXT NOT NULL, value TEXT, "
                                       "path TEXT NOT NULL)"));
            for (const QStringList& c : cookies) {
                q.prepare(QStringLiteral("INSERT INTO cookies VALUES (1, ?, ?, 'v', ?)"));
                q.addBindValue(c.at(1));
                q.addBindValue(c.at(0));
                q.addBindValue(c.at(2));
                ok = q.exec() && ok;
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("w"));
    return ok;
}

HostileHomes MakeHostileHomes(const QString& base) {
    HostileHomes t;
    t.homes = base + QStringLiteral("/homes");
    t.outside = base + QStringLiteral("/outside");
    t.alice = t.homes + QStringLiteral("/alice");
    t.cache = t.alice + QStringLiteral("/.cache/Quillmarsh/browser");

    Write(t.outside + QStringLiteral("/secret.pdf"), "outside file");
    ::chmod(QFile::encodeName(t.outside + QStringLiteral("/secret.pdf")).constData(), 0444);
    Write(t.outside + QStringLiteral("/dir/inner.bin"), "outside folder");
    Write(t.outside + QStringLiteral("/others/a.css"), "other file a");
    Write(t.outside + QStringLiteral("/others/sub/b.js"), "other file b");
    Write(t.outside + QStringLiteral("/bobcache/Quillmarsh/browser/bob.png"), "bob's");
    Write(t.outside + QStringLiteral("/davehome/.cache/Quillmarsh/browser/dave.png"), "dave's");

    WriteCacheEntry(t.cache + QStringLiteral("/Cache/Cache_Data"), "1/0/http://h/a.html", "<p>");
    Write(t.cache + QStringLiteral("/Cache/Cache_Data/index"), "idx");
    Write(t.cache + QStringLiteral("/cookies.txt"), "name=value");
    Write(t.cache + QStringLiteral("/sub/deeper/page.htm"), "<html>");
    Write(t.cache + QStringLiteral("/sub/notes.TXT"), "kept");
    Write(t.cache + QStringLiteral("/readonly.gif"), "GIF89a");
    ::chmod(QFile::encodeName(t.cache + QStringLiteral("/readonly.gif")).constData(), 0444);
    QDir().mkpath(t.cache + QStringLiteral("/empty/nested/deepest"));
    Link(t.outside + QStringLiteral("/secret.pdf"), t.cache + QStringLiteral("/to-file.pdf"));
    Link(t.outside + QStringLiteral("/dir"), t.cache + QStringLiteral("/to-folder"));
    Link(t.outside + QStringLiteral("/others"), t.cache + QStringLiteral("/sub/to-others"));
    Link(t.outside + QStringLiteral("/missing"), t.cache + QStringLiteral("/dangling"));

    // bob's cache path runs through a link; dave's home is a link.
    QDir().mkpath(t.homes + QStringLiteral("/bob"));
    Link(t.outside + QStringLiteral("/bobcache"), t.homes + QStringLiteral("/bob/.cache"));
    Link(t.outside + QStringLiteral("/davehome"), t.homes + QStringLiteral("/dave"));
    QDir().mkpath(t.homes + QStringLiteral("/carol/.cache"));
    return t;
}

QMap<QString, QString> TreeSnapshot(const QString& root) {
    QMap<QString, QString> snapshot;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st {};
        ::lstat(QFile::encodeName(path).constData(), &st);
        QString entry = QStringLiteral("%1 %2").arg(st.st_mode, 0, 8).arg(st.st_size);
        if (S_ISLNK(st.st_mode)) {
            entry += QStringLiteral(" -> ") + QFile::symLinkTarget(path);
        } else if (S_ISREG(st.st_mode)) {
            QFile f(path);
            if (f.open(QIODevice::ReadOnly))
                entry += u' ' + QString::fromLatin1(f.readAll().toHex());
        }
        snapshot.insert(path, entry);
    }
    return snapshot;
}

QStringList RelativeEntries(const QString& root) {
    QStringList paths;
    const QDir base(root);
    for (const QString& path : TreeSnapshot(root).keys())
        paths.append(base.relativeFilePath(path));
    paths.sort();
    return paths;
}
