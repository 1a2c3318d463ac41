#pragma once

#include <chrono>

// Every time limit of the program, in one place. Tests scale them all down.
namespace TimeLimits {

using std::chrono::milliseconds;

// How long the file manager may take to answer "show this file".
inline constexpr milliseconds FileManagerCall{3000};
// How long a page may take to answer a script (snapshot, click). A safety net,
// not a rule of the program's behaviour, so it is never scaled.
inline constexpr milliseconds ScriptAnswer{10000};

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

// Files of the running browser's cache are deleted only while no page loads;
// this long at most is waited for the pages to finish.
inline constexpr milliseconds CachePagesIdle{30000};

// Multiplies every limit by factor (tests use small factors); 1 by default.
void SetScale(double factor);
double Scale();
milliseconds Scaled(milliseconds limit);

} // namespace TimeLimits
