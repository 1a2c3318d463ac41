#pragma once

#include <QString>

// Every persisted setting: section, key and default, in one place.
struct SettingKey {
    QString section;
    QString key;
    QString defaultText;
};

namespace DuplicateNamePolicies {
inline const QString Skip = QStringLiteral("跳过");
inline const QString Overwrite = QStringLiteral("覆盖");
inline const QString Rename = QStringLiteral("重命名");
} // namespace DuplicateNamePolicies

namespace SettingKeys {

inline const QString OptionsSection = QStringLiteral("设置");
inline const QString DownloadSection = QStringLiteral("下载");
inline const QString PatentSection = QStringLiteral("专利下载");
inline const QString CopyToolSection = QStringLiteral("Form_Copy_Move");

SettingKey DownloadMethod(); // "1" or "2"
SettingKey ProxyEnabled();   // "0" or "1"
SettingKey ProxyAddress();
SettingKey ProxyPort();
SettingKey MaxFileSizeMB();    // decimal, fractions allowed
SettingKey PromptSaveFolder(); // "0" or "1"
SettingKey DownloadFolder();   // always ends with "/"
SettingKey ThreadIndex();      // zero-based index into "1".."6"
SettingKey DuplicateNamePolicy();
SettingKey CopyTargetFolder();
SettingKey CopyOperation();

// Geometry of a window, in the section named after it.
SettingKey GeometryResolution(const QString& window); // "分辨率"
SettingKey GeometryTop(const QString& window);        // "上"
SettingKey GeometryLeft(const QString& window);       // "左"
SettingKey GeometryWidth(const QString& window);      // "宽"
SettingKey GeometryHeight(const QString& window);     // "高"

} // namespace SettingKeys
