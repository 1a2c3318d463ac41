#pragma once

#include <QObject>

// The search window's coordination flags. Waits watch changed() instead of polling.
class SearchFlags : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // WebBrowser1 is loading a page that the next-page step asked for.
    bool PageLoading() const { return pageLoading_; }
    // Web2 is loading a page for the analysis.
    bool HiddenPageLoading() const { return hiddenPageLoading_; }
    // The add-all-pages loop must stop.
    bool StopAddAll() const { return stopAddAll_; }
    // No analysis run is active, or the running one must stop.
    bool StopAnalysis() const { return stopAnalysis_; }

    void setPageLoading(bool on) { set(pageLoading_, on); }
    void setHiddenPageLoading(bool on) { set(hiddenPageLoading_, on); }
    void setStopAddAll(bool on) { set(stopAddAll_, on); }
    void setStopAnalysis(bool on) { set(stopAnalysis_, on); }

signals:
    void changed();

private:
    void set(bool& flag, bool on) {
        if (flag == on)
            return;
        flag = on;
        emit changed();
    }

    bool pageLoading_ = false;
    bool hiddenPageLoading_ = false;
    bool stopAddAll_ = false;
    bool stopAnalysis_ = true;
};
