#pragma once

#include <QString>

class ListStore;
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
    // The task list and the record list, kept across runs; null: each window keeps
    // its own list for as long as it is open.
    ListStore* lists = nullptr;
};
