#pragma once

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTest>

// Small file helpers of the copy tool's tests.

inline void Write(const QString& path, const QByteArray& bytes, const QDateTime& modified = {}) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.flush();
    if (modified.isValid())
        f.setFileTime(modified, QFileDevice::FileModificationTime);
}

inline QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Everything in folder: hidden files, dangling links and special files too.
inline QStringList Names(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}
