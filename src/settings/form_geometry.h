#pragma once

class QWidget;
class SettingsStore;

// Window geometry kept in the section named after the window's objectName.
void SaveFormGeometry(const QWidget& window, SettingsStore& store);
// Call before the window is shown; it opens maximised unless the stored
// geometry was taken on a screen of the current size.
void RestoreFormGeometry(QWidget& window, const SettingsStore& store);
