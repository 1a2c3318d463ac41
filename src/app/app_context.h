#pragma once

#include <QString>

class QWebEngineProfile;
class SettingsStore;
struct SharedOptions;

// What the program creates once at start and hands to its windows.
struct AppContext {
    SettingsStore& store;
    SharedOptions& options;
    QWebEngineProfile* profile = nullptr;
    QString homeUrl;     // the database home page for this run
    QString OSName;      // computed by the start window
    QString updateUrl{}; // the version file's address; empty: no update check
};
