#pragma once

class QObject;
class QWebEngineProfile;

// The one browser identity that every browser pane shares: cookies, cache and
// storage persist under the per-user data and cache folders.
QWebEngineProfile* CreateBrowserProfile(QObject* parent = nullptr);
