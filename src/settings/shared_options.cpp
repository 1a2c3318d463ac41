#include "settings/shared_options.h"

#include "settings/settings_store.h"
#include "tools/text_utils.h"

SharedOptions::SharedOptions()
    : DownloadFolder(WithTrailingSlash(SettingKeys::DownloadFolder().defaultText))
    , DuplicateNamePolicy(DuplicateNamePolicies::Rename) {}

void SharedOptions::loadForStartWindow(const SettingsStore& store) {
    MaxFileSizeMB = store.number(SettingKeys::MaxFileSizeMB());
}

void SharedOptions::loadForSearchWindow(const SettingsStore& store) {
    PromptSaveFolder = qint16(store.integerInRange(SettingKeys::PromptSaveFolder(), 0, 1));
}

void SharedOptions::loadForDownloadWindow(const SettingsStore& store) {
    DownloadMethod = qint16(store.integerInRange(SettingKeys::DownloadMethod(), 1, 2));
    ProxyEnabled = qint16(store.integerInRange(SettingKeys::ProxyEnabled(), 0, 1));
    ProxyAddress = TrimSpaces(store.text(SettingKeys::ProxyAddress()));
    ProxyPort = TrimSpaces(store.text(SettingKeys::ProxyPort()));
    MaxFileSizeMB = store.number(SettingKeys::MaxFileSizeMB());
    const QString policy = TrimSpaces(store.text(SettingKeys::DuplicateNamePolicy()));
    if (policy == DuplicateNamePolicies::Skip || policy == DuplicateNamePolicies::Overwrite ||
        policy == DuplicateNamePolicies::Rename)
        DuplicateNamePolicy = policy;
    else
        DuplicateNamePolicy = SettingKeys::DuplicateNamePolicy().defaultText;
}

void SharedOptions::loadDownloadFolder(const SettingsStore& store) {
    QString folder = TrimSpaces(store.text(SettingKeys::DownloadFolder()));
    if (folder.isEmpty())
        folder = SettingKeys::DownloadFolder().defaultText;
    DownloadFolder = WithTrailingSlash(folder);
}

void SharedOptions::saveOptions(SettingsStore& store) const {
    store.setInteger(SettingKeys::DownloadMethod(), DownloadMethod);
    store.setInteger(SettingKeys::ProxyEnabled(), ProxyEnabled);
    store.setText(SettingKeys::ProxyAddress(), ProxyAddress);
    store.setText(SettingKeys::ProxyPort(), ProxyPort);
    store.setNumber(SettingKeys::MaxFileSizeMB(), MaxFileSizeMB);
    store.setInteger(SettingKeys::PromptSaveFolder(), PromptSaveFolder);
}

QString WithTrailingSlash(const QString& folder) {
    QString f = folder;
    while (f.size() > 1 && f.endsWith(u'/'))
        f.chop(1);
    if (!f.endsWith(u'/'))
        f += u'/';
    return f;
}
