#pragma once

#include <QRect>
#include <QString>

class SettingsStore;

// Stored geometry is in twips, 15 to a screen pixel.
inline constexpr int TwipsPerPixel = 15;

int PixelsToTwips(int pixels);
int TwipsToPixels(int twips);

// Size of the primary screen in pixels as "width*height".
QString ScreenResolutionText();

struct GeometryPlan {
    bool maximise = true;
    QRect pixels; // left, top, width, height; used when not maximised
};

// What a window restored from section should do on a screen of the given resolution.
GeometryPlan PlanRestoreGeometry(const SettingsStore& store, const QString& section,
                                 const QString& resolution);

// Records a window's geometry; a maximised window stores only the resolution "0*0".
void RecordGeometry(SettingsStore& store, const QString& section, bool maximised,
                    const QRect& pixels, const QString& resolution);
