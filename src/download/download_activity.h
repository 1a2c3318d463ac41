#pragma once

// What the download engine is doing, as the window and its list commands see it.
struct DownloadActivity {
    bool schedulerOn = false;       // the scheduler tick is switched on
    bool transferExecuting = false; // a one-at-a-time transfer is in progress
    int loadedDownloaders = 0;      // parallel downloaders at work (1 to 6)
    bool busy = false;              // the engine's busy flag

    // Loaded downloader instances, counting the idle template instance.
    int CountLoadedDownloaders() const { return loadedDownloaders + 1; }
    // Rows must not move or go away while this is true.
    bool IsDownloadRunning() const {
        return CountLoadedDownloaders() > 1 || transferExecuting || schedulerOn;
    }
};
