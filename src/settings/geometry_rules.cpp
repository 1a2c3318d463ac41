#include "settings/geometry_rules.h"

#include "settings/settings_store.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

int PixelsToTwips(int pixels) {
    return pixels * TwipsPerPixel;
}

int TwipsToPixels(int twips) {
    return int(std::lround(double(twips) / TwipsPerPixel));
}

QString ScreenResolutionText() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return QStringLiteral("0*0");
    const QSize size = screen->size();
    return QString::number(size.width()) + u'*' + QString::number(size.height());
}

GeometryPlan PlanRestoreGeometry(const SettingsStore& store, const QString& section,
                                 const QString& resolution) {
    GeometryPlan plan;
    if (store.text(SettingKeys::GeometryResolution(section)) != resolution)
        return plan;
    const int top = std::max(0, store.integer(SettingKeys::GeometryTop(section)));
    const int left = std::max(0, store.integer(SettingKeys::GeometryLeft(section)));
    const int width = std::max(4000, store.integer(SettingKeys::GeometryWidth(section)));
    const int height = std::max(3000, store.integer(SettingKeys::GeometryHeight(section)));
    plan.maximise = false;
    plan.pixels =
        QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width), TwipsToPixels(height));
    return plan;
}

void RecordGeometry(SettingsStore& store, const QString& section, bool maximised,
                    const QRect& pixels, const QString& resolution) {
    if (maximised) {
        store.setText(SettingKeys::GeometryResolution(section), QStringLiteral("0*0"));
        return;
    }
    store.setText(SettingKeys::GeometryResolution(section), resolution);
    store.setInteger(SettingKeys::GeometryTop(section), PixelsToTwips(pixels.top()));
    store.setInteger(SettingKeys::GeometryLeft(section), PixelsToTwips(pixels.left()));
    store.setInteger(SettingKeys::GeometryWidth(section), PixelsToTwips(pixels.width()));
    store.setInteger(SettingKeys::GeometryHeight(section), PixelsToTwips(pixels.height()));
}
