#pragma once

#include <chrono>

// Every time limit of the program, in one place. Tests scale them all down.
namespace TimeLimits {

using std::chrono::milliseconds;

// How long the file manager may take to answer "show this file".
inline constexpr milliseconds FileManagerCall{3000};
// How long a page may take to answer a script (snapshot, click).
inline constexpr milliseconds ScriptAnswer{10000};

// Multiplies every limit by factor (tests use small factors); 1 by default.
void SetScale(double factor);
double Scale();
milliseconds Scaled(milliseconds limit);

} // namespace TimeLimits
