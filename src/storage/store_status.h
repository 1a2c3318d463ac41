#pragma once

class ListStore;
class QStatusBar;

// Shows in bar, for as long as it lasts, that the lists cannot be written (a full
// disk) and are being tried again, and for a while a change the store refused for
// good. Nothing without a store.
void ShowListStoreProblems(QStatusBar* bar, ListStore* store);
