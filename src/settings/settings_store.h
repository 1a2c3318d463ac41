#pragma once

#include "settings/settings_keys.h"

#include <QSettings>

#include <memory>

// Typed access to the per-user settings file (INI, application "Quillmarsh").
// A stored value that does not convert to the asked type counts as absent.
class SettingsStore {
public:
    // The per-user store; a file name gives a store in that INI file instead.
    SettingsStore();
    explicit SettingsStore(const QString& iniFile);

    QString text(const SettingKey& key) const;
    int integer(const SettingKey& key) const;
    double number(const SettingKey& key) const;
    // Whole number in [min, max]; anything else gives the default.
    int integerInRange(const SettingKey& key, int min, int max) const;

    void setText(const SettingKey& key, const QString& value);
    void setInteger(const SettingKey& key, qint64 value);
    void setNumber(const SettingKey& key, double value);

    // Writes pending changes to disk.
    void sync();
    QString fileName() const;

private:
    std::unique_ptr<QSettings> settings_;
};
