#include "search/harvester.h"

#include "app/browser_page.h"
#include "search/record_list.h"
#include "search/result_parser.h"
#include "search/search_flags.h"
#include "tools/time_limits.h"
#include "tools/wait.h"

#include <QElapsedTimer>

using namespace std::chrono;

Harvester::Harvester(BrowserPage* browser, SearchFlags& flags, RecordListModel& records,
                     QObject* parent)
    : QObject(parent)
    , browser_(browser)
    , flags_(flags)
    , records_(records) {}

QCoro::Task<int> Harvester::AddPage(QString saveFolder) {
    QPointer<Harvester> self = this;
    if (!browser_)
        co_return 0;
    const auto document = co_await browser_->Document();
    if (!self || !document)
        co_return 0;
    const int added =
        ParseResultPage(*document, checkedOnly_ && checkedOnly_(), saveFolder, records_);
    emit pageParsed(added);
    co_return added;
}

QCoro::Task<bool> Harvester::下一页(QString saveFolder) {
    QPointer<Harvester> self = this;
    if (!browser_)
        co_return false;
    const auto document = co_await browser_->Document();
    if (!self || !browser_ || !document)
        co_return false;
    emit pageParsed(
        ParseResultPage(*document, checkedOnly_ && checkedOnly_(), saveFolder, records_));

    const int next = FindNextPageLink(*document);
    if (next < 0)
        co_return false;

    QElapsedTimer clock;
    clock.start();
    flags_.setPageLoading(true);
    const bool clicked = co_await browser_->Click(document->at(next));
    if (!self || !browser_ || !clicked)
        co_return false;

    const milliseconds loadLimit = TimeLimits::Scaled(TimeLimits::NextPageLoad);
    while (!flags_.StopAddAll()) {
        if (!browser_->Busy() && !flags_.PageLoading())
            break;
        const milliseconds left = loadLimit - milliseconds(clock.elapsed());
        if (left <= milliseconds(0))
            co_return false;
        co_await WaitForSignal(&flags_, &SearchFlags::changed, left);
        if (!self || !browser_)
            co_return false;
    }

    clock.restart();
    const milliseconds settle = TimeLimits::Scaled(TimeLimits::NextPageSettle);
    while (!flags_.StopAddAll()) {
        const milliseconds left = settle - milliseconds(clock.elapsed());
        if (left <= milliseconds(0))
            break;
        co_await WaitForSignal(&flags_, &SearchFlags::changed, left);
        if (!self)
            co_return false;
    }
    co_return true;
}

QCoro::Task<void> Harvester::AddAll(QString saveFolder) {
    QPointer<Harvester> self = this;
    if (running_)
        co_return;
    running_ = true;
    emit runningChanged(true);
    flags_.setStopAddAll(false);
    do {
        const bool more = co_await 下一页(saveFolder);
        if (!self)
            co_return;
        if (!more)
            break;
    } while (!flags_.StopAddAll());
    running_ = false;
    emit runningChanged(false);
}
