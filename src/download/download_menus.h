#pragma once

#include <QList>

class fFileDownload;
class QMenuBar;

// One line of the download window's menu tree.
struct DownloadMenuEntry {
    enum Kind {
        Menu,      // a menu of the menu bar
        Item,      // an entry of the last Menu
        Submenu,   // a submenu in the last Menu
        SubItem,   // an entry of the last Submenu
        Separator, // in the last Menu
    };
    Kind kind;
    const char16_t* caption;
    const char16_t* name;                  // objectName of the menu or action
    void (fFileDownload::*handler)() = {}; // what choosing it does; none: wired elsewhere
    bool checkable = false;
};

// The menus in menu-bar order, as a table of caption, name and handler.
const QList<DownloadMenuEntry>& DownloadMenuTree();

// Builds the tree into bar, each entry calling its handler on window.
void BuildDownloadMenus(fFileDownload& window, QMenuBar* bar);
