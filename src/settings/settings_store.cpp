#include "settings/settings_store.h"

#include "tools/paths.h"
#include "tools/text_utils.h"

namespace SettingKeys {

namespace {
SettingKey Options(const char16_t* key, const char16_t* def) {
    return {OptionsSection, QString::fromUtf16(key), QString::fromUtf16(def)};
}
} // namespace

SettingKey DownloadMethod() {
    return Options(u"下载方式", u"2");
}
SettingKey ProxyEnabled() {
    return Options(u"代理服务器有效", u"0");
}
SettingKey ProxyAddress() {
    return Options(u"代理服务器网址", u"");
}
SettingKey ProxyPort() {
    return Options(u"代理服务器端口", u"");
}
SettingKey MaxFileSizeMB() {
    return Options(u"文件最大值", u"10");
}
SettingKey PromptSaveFolder() {
    return Options(u"提取网页信息时提示下载保存路径", u"1");
}
SettingKey DownloadFolder() {
    return {OptionsSection, QStringLiteral("下载文件保存路径"),
            HomeFolder() + QStringLiteral("/12345")};
}
SettingKey ThreadIndex() {
    return {DownloadSection, QStringLiteral("线程"), QStringLiteral("2")};
}
SettingKey DuplicateNamePolicy() {
    return {PatentSection, QStringLiteral("重复文件名设置"), DuplicateNamePolicies::Rename};
}
// The copy tool's default target is the home folder: the program's own folder
// is read-only once installed.
SettingKey CopyTargetFolder() {
    return {CopyToolSection, QStringLiteral("目的文件夹"), HomeFolder()};
}
SettingKey CopyOperation() {
    return {CopyToolSection, QStringLiteral("OpIndex"), QStringLiteral("4")};
}

SettingKey GeometryResolution(const QString& window) {
    return {window, QStringLiteral("分辨率"), QStringLiteral("000")};
}
SettingKey GeometryTop(const QString& window) {
    return {window, QStringLiteral("上"), QStringLiteral("100")};
}
SettingKey GeometryLeft(const QString& window) {
    return {window, QStringLiteral("左"), QStringLiteral("100")};
}
SettingKey GeometryWidth(const QString& window) {
    return {window, QStringLiteral("宽"), QStringLiteral("15000")};
}
SettingKey GeometryHeight(const QString& window) {
    return {window, QStringLiteral("高"), QStringLiteral("10000")};
}

} // namespace SettingKeys

namespace {

QString KeyPath(const SettingKey& key) {
    return key.section + u'/' + key.key;
}

std::optional<double> ToNumber(const QString& text) {
    bool ok = false;
    const double value = TrimSpaces(text).toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<qint64> ToWhole(const QString& text) {
    bool ok = false;
    const qint64 value = TrimSpaces(text).toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace

SettingsStore::SettingsStore()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                            QStringLiteral("Quillmarsh"),
                                            QStringLiteral("Quillmarsh"))) {}

SettingsStore::SettingsStore(const QString& iniFile)
    : settings_(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

QString SettingsStore::text(const SettingKey& key) const {
    const QVariant value = settings_->value(KeyPath(key));
    if (!value.isValid())
        return key.defaultText;
    return value.toString();
}

int SettingsStore::integer(const SettingKey& key) const {
    return integerInRange(key, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
}

int SettingsStore::integerInRange(const SettingKey& key, int min, int max) const {
    const auto stored = ToWhole(text(key));
    if (stored && *stored >= min && *stored <= max)
        return int(*stored);
    return int(ToWhole(key.defaultText).value_or(0));
}

double SettingsStore::number(const SettingKey& key) const {
    if (const auto stored = ToNumber(text(key)))
        return *stored;
    return ToNumber(key.defaultText).value_or(0.0);
}

void SettingsStore::setText(const SettingKey& key, const QString& value) {
    settings_->setValue(KeyPath(key), value);
}

void SettingsStore::setInteger(const SettingKey& key, qint64 value) {
    setText(key, QString::number(value));
}

void SettingsStore::setNumber(const SettingKey& key, double value) {
    setText(key, QString::number(value, 'g', 15));
}

void SettingsStore::sync() {
    settings_->sync();
}

QString SettingsStore::fileName() const {
    return settings_->fileName();
}
