#pragma once

#include <chrono>

// Every time limit of the program, in one place. Tests scale them all down.
namespace TimeLimits {

using std::chrono::milliseconds;

// How long the file manager may take to answer "show this file".
inline constexpr milliseconds FileManagerCall{3000};
// How long a page may take to answer a script (snapshot, click). A page that
// does not answer in time is taken for hung: a script of its own never stops.
// Scaled for tests, but never below ScriptAnswerFloor, so a busy machine does
// not make a healthy page look hung.
inline constexpr milliseconds ScriptAnswer{10000};
inline constexpr milliseconds ScriptAnswerFloor{5000};
// After a stop request the rules still read the page, but a page that keeps
// its renderer busy gets this long only. Not scaled.
inline constexpr milliseconds StoppedPageAnswer{2000};

// How often a waiting page load looks at the page itself, besides the engine's
// reports. A period, not a limit: never scaled.
inline constexpr milliseconds PagePoll{250};

// A next result page must finish loading within this time.
inline constexpr milliseconds NextPageLoad{60000};
// Pause after a next result page loaded, so its scripts can finish.
inline constexpr milliseconds NextPageSettle{5000};

// A publisher's landing page (and the blank page before it) must finish loading
// within this time; the rules then read whatever the page holds.
inline constexpr milliseconds LandingPageLoad{90000};
// A finished page whose refresh leads elsewhere within this delay is a redirect:
// its next page is waited for. Longer refreshes are the page's own business.
// The page's delay, not ours, so it is never scaled.
inline constexpr milliseconds RefreshRedirectDelay{10000};
// A load that ended without a document may still turn out to be a download:
// the engine names it this long after the load ended, at the latest. Not scaled.
inline constexpr milliseconds DownloadOfferGrace{500};

// How long after a refresh's delay the next page may take to start.
inline constexpr milliseconds RefreshStartGrace{2000};

// Response headers of a one-at-a-time transfer must arrive within this time.
inline constexpr milliseconds HeaderWait{30000};
// A transfer that receives nothing for this long fails.
inline constexpr milliseconds StallLimit{300000};
// The scheduler's tick, the supervisor's tick and a transfer's stall check.
inline constexpr milliseconds SchedulerTick{1000};
inline constexpr milliseconds SupervisorTick{1000};
inline constexpr milliseconds StallCheck{1000};
// Progress written into a row at most this often (the transfer itself is not slowed).
inline constexpr milliseconds ProgressRefresh{200};
// How long closing waits for stopped transfers to put their files in order. A
// safety net (they need milliseconds), so never scaled.
inline constexpr milliseconds ShutdownWait{5000};
// Longest wait a server's Retry-After can impose on its host before it is asked again.
inline constexpr milliseconds RetryAfterCap{3600000};
// A host that answers "busy" (429, 503) without saying for how long waits this long,
// twice as long after each further such answer, at most HostBackoffMost.
inline constexpr milliseconds HostBackoffFirst{30000};
inline constexpr milliseconds HostBackoffMost{600000};

// The list store: a write that failed (a full disk) is tried again after this long;
// a running task's progress is written at most this often.
inline constexpr milliseconds StoreRetry{5000};
inline constexpr milliseconds ProgressStoreInterval{1000};
// How long closing waits for the list store to write what is pending, and how long
// a transfer waits for the note that its file is being put in place. Safety nets
// (both take milliseconds), so never scaled.
inline constexpr milliseconds StoreFlushWait{5000};
inline constexpr milliseconds CommitRecordWait{2000};
// How long the status bar tells of a change the list store refused for good.
inline constexpr milliseconds StatusNoticeShown{15000};

// The site login: a login page (or the page its form leads to) loads within
// this time; the login then pauses this long before the next one may start.
inline constexpr milliseconds LoginPageLoad{10000};
inline constexpr milliseconds LoginPause{5000};
// The login pane's browser reloads its page this often when asked to.
inline constexpr milliseconds LoginPaneRefresh{60000};

// Files of the running browser's cache are deleted only while no page loads;
// this long at most is waited for the pages to finish.
inline constexpr milliseconds CachePagesIdle{30000};

// Multiplies every limit by factor (tests use small factors); 1 by default.
void SetScale(double factor);
double Scale();
milliseconds Scaled(milliseconds limit);
// ScriptAnswer, scaled.
milliseconds ScriptAnswerLimit();

} // namespace TimeLimits
