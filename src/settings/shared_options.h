#pragma once

#include <QString>

class SettingsStore;

// Program-wide option values. One instance is created at start and handed to
// every window that needs it; each window loads the values it owns.
struct SharedOptions {
    qint16 DownloadMethod = 2; // 1: one transfer at a time, 2: parallel downloaders
    qint16 ProxyEnabled = 0;
    QString ProxyAddress;
    QString ProxyPort;
    double MaxFileSizeMB = 10;
    qint16 PromptSaveFolder = 1;
    QString DownloadFolder; // ends with "/"
    QString DuplicateNamePolicy;
    bool UseOriginalFileName = false;    // not persisted
    bool FolderChooserCancelled = false; // not persisted

    SharedOptions();

    // What the start window reads.
    void loadForStartWindow(const SettingsStore& store);
    // What the search window reads.
    void loadForSearchWindow(const SettingsStore& store);
    // What the download window reads.
    void loadForDownloadWindow(const SettingsStore& store);
    // What the folder chooser reads each time it opens.
    void loadDownloadFolder(const SettingsStore& store);

    // What the options dialog writes on OK.
    void saveOptions(SettingsStore& store) const;
};

// Makes a folder text end with exactly one "/".
QString WithTrailingSlash(const QString& folder);
