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

// A next result page must finish loading within this time.
inline constexpr milliseconds NextPageLoad{60000};
// Pause after a next result page loaded, so its scripts can finish.
inline constexpr milliseconds NextPageSettle{5000};

// Multiplies every limit by factor (tests use small factors); 1 by default.
void SetScale(double factor);
double Scale();
milliseconds Scaled(milliseconds limit);

} // namespace TimeLimits
