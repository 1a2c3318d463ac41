#include "settings/form_geometry.h"

#include "settings/geometry_rules.h"

#include <QWidget>

void SaveFormGeometry(const QWidget& window, SettingsStore& store) {
    RecordGeometry(store, window.objectName(), window.isMaximized(),
                   QRect(window.pos(), window.size()), ScreenResolutionText());
}

void RestoreFormGeometry(QWidget& window, const SettingsStore& store) {
    const GeometryPlan plan =
        PlanRestoreGeometry(store, window.objectName(), ScreenResolutionText());
    if (plan.maximise) {
        window.setWindowState(window.windowState() | Qt::WindowMaximized);
        return;
    }
    window.move(plan.pixels.topLeft());
    window.resize(plan.pixels.size());
    window.setWindowState(window.windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized));
}
