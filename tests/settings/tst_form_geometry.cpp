#include "settings/form_geometry.h"
#include "settings/geometry_rules.h"
#include "settings/settings_store.h"
#include "test_main.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QWidget>

class TestFormGeometry : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    void windowGeometrySurvivesACloseAndReopen() {
        SettingsStore store(dir_.filePath(QStringLiteral("g.ini")));
        QWidget first;
        first.setObjectName(QStringLiteral("fFileDownload"));
        RestoreFormGeometry(first, store);
        QVERIFY(first.windowState() & Qt::WindowMaximized); // first run

        first.setWindowState(Qt::WindowNoState);
        first.move(40, 30);
        first.resize(640, 480);
        SaveFormGeometry(first, store);
        QCOMPARE(store.text(SettingKeys::GeometryResolution(QStringLiteral("fFileDownload"))),
                 ScreenResolutionText());
        QCOMPARE(store.integer(SettingKeys::GeometryWidth(QStringLiteral("fFileDownload"))),
                 640 * 15);

        QWidget second;
        second.setObjectName(QStringLiteral("fFileDownload"));
        RestoreFormGeometry(second, store);
        QVERIFY(!(second.windowState() & Qt::WindowMaximized));
        QCOMPARE(second.pos(), QPoint(40, 30));
        QCOMPARE(second.size(), QSize(640, 480));

        // A maximised close stores only the resolution marker.
        second.setWindowState(Qt::WindowMaximized);
        SaveFormGeometry(second, store);
        QWidget third;
        third.setObjectName(QStringLiteral("fFileDownload"));
        RestoreFormGeometry(third, store);
        QVERIFY(third.windowState() & Qt::WindowMaximized);
        QCOMPARE(store.integer(SettingKeys::GeometryWidth(QStringLiteral("fFileDownload"))),
                 640 * 15);
    }

    void resolutionTextIsTheScreenSize() {
        const QSize size = QGuiApplication::primaryScreen()->size();
        QCOMPARE(ScreenResolutionText(),
                 QStringLiteral("%1*%2").arg(size.width()).arg(size.height()));
    }
};

QM_TEST_WIDGETS_MAIN(TestFormGeometry)
#include "tst_form_geometry.moc"
