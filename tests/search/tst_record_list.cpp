#include "search/record_cleanup.h"
#include "search/record_export.h"
#include "search/record_list.h"
#include "test_main.h"
#include "tools/file_helpers.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

class TestRecordList : public QObject {
    Q_OBJECT

    static void fill(RecordListModel& m, const QStringList& titles) {
        for (const QString& t : titles)
            m.加入LV1(t, QStringLiteral("http://l/") + t, QStringLiteral("pdf"), {});
    }

private slots:
    void keysAreUniqueAndRowsOneBased() {
        RecordListModel m;
        QSignalSpy counts(&m, &RecordListModel::countChanged);
        QVERIFY(m.加入LV1(QStringLiteral("A"), QStringLiteral("http://x/1"), QStringLiteral("pdf"),
                          QStringLiteral("/d/")));
        QVERIFY(!m.加入LV1(QStringLiteral("B"), QStringLiteral("http://x/1"), QStringLiteral("htm"),
                           {}));
        QVERIFY(m.加入LV1(QStringLiteral("A"), QStringLiteral("http://x/2"), QStringLiteral("pdf"),
                          {}));
        QCOMPARE(m.count(), 2);
        QCOMPARE(counts.size(), 2);
        QCOMPARE(m.rowOfLink(QStringLiteral("http://x/2")), 2);
        QCOMPARE(m.rowOfLink(QStringLiteral("http://x/3")), 0);
        QCOMPARE(m.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("分析状态"));
        QCOMPARE(m.data(m.index(0, RecordListModel::FolderColumn), Qt::DisplayRole).toString(),
                 QStringLiteral("/d/"));

        m.removeRecordRows({1, 1, 7});
        QCOMPARE(m.count(), 1);
        QCOMPARE(m.rowOfLink(QStringLiteral("http://x/2")), 1);
        // A removed key can come back.
        QVERIFY(m.加入LV1(QStringLiteral("A"), QStringLiteral("http://x/1"), QStringLiteral("pdf"),
                          {}));
    }

    void sweepsRemoveEveryMatchIncludingNeighbours() {
        RecordListModel m;
        fill(m, {QStringLiteral("xab1"), QStringLiteral("AB2"), QStringLiteral("aB3"),
                 QStringLiteral("c4"), QStringLiteral("ab5")});
        m.setStatus(4, QStringLiteral("成功"));
        QCOMPARE(
            SweepRecords(
                m, [](const SearchRecord& r) { return TitleContains(r, QStringLiteral("ab")); }),
            4);
        QCOMPARE(m.count(), 1);
        QCOMPARE(m.record(1).title, QStringLiteral("c4"));
        QCOMPARE(SweepRecords(m, [](const SearchRecord& r) { return r.status == u"成功"; }), 1);
        QCOMPARE(m.count(), 0);
    }

    void exportBytesAndSizeText() {
        RecordListModel m;
        fill(m, {QStringLiteral("标题一"), QStringLiteral("Two"), QStringLiteral("Three")});
        m.setStatus(1, QStringLiteral("成功"));
        m.setStatus(3, QStringLiteral("失败"));
        const QByteArray text = RecordExportText(m);
        QCOMPARE(
            text,
            QStringLiteral("标题一-【pdf】成功\r\nTwo-【pdf】\r\nThree-【pdf】失败\r\n").toUtf8());
        QCOMPARE(text.count("\r\n"), 3);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.txt"));
        QVERIFY(WriteFileAtomically(path, "old contents that are longer"));
        QVERIFY(WriteFileAtomically(path, text));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), text);
        QVERIFY(!WriteFileAtomically(dir.filePath(QStringLiteral("missing/out.txt")), text));

        const QLocale english(QLocale::English, QLocale::UnitedStates);
        QCOMPARE(KilobytesText(1536, english), QStringLiteral("1.5"));
        QCOMPARE(KilobytesText(2000000, english), QStringLiteral("1,953.1"));
        QCOMPARE(KilobytesText(0, english), QStringLiteral("0.0"));
        const QLocale german(QLocale::German, QLocale::Germany);
        QCOMPARE(KilobytesText(2000000, german), QStringLiteral("1.953,1"));
    }
};

QM_TEST_GUILESS_MAIN(TestRecordList)
#include "tst_record_list.moc"
