#pragma once

#include <QObject>
#include <QPointer>

#include <qcoro/qcorotask.h>

#include <functional>

class BrowserPage;
class RecordListModel;
class SearchFlags;

// Takes the hits of the result pages shown in the search browser into the
// record list: one page, or every page by following "next >".
class Harvester : public QObject {
    Q_OBJECT

public:
    Harvester(BrowserPage* browser, SearchFlags& flags, RecordListModel& records,
              QObject* parent = nullptr);

    // Whether only ticked hits are taken; asked at each parse.
    void setCheckedOnly(std::function<bool()> checkedOnly) {
        checkedOnly_ = std::move(checkedOnly);
    }

    // Parses the current page; returns the number of records added.
    QCoro::Task<int> AddPage(QString saveFolder);

    // Parses the current page, then clicks "next >" and waits for the next page:
    // true when it loaded (or the wait was stopped), false when there is no
    // such link, the load took too long or the page could not be read.
    QCoro::Task<bool> 下一页(QString saveFolder);

    // Repeats 下一页 until it fails or StopAddAll is set. running() is true meanwhile.
    QCoro::Task<void> AddAll(QString saveFolder);
    bool running() const { return running_; }

signals:
    void runningChanged(bool running);
    // A page was parsed.
    void pageParsed(int added);

private:
    QPointer<BrowserPage> browser_;
    SearchFlags& flags_;
    RecordListModel& records_;
    std::function<bool()> checkedOnly_;
    bool running_ = false;
};
