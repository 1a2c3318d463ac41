#include "tools/time_limits.h"

#include <algorithm>

namespace TimeLimits {

namespace {
double scale = 1.0;
}

void SetScale(double factor) {
    scale = std::clamp(factor, 0.0001, 1.0);
}

double Scale() {
    return scale;
}

milliseconds Scaled(milliseconds limit) {
    return std::max(milliseconds(1), milliseconds(static_cast<long long>(limit.count() * scale)));
}

milliseconds ScriptAnswerLimit() {
    return std::max(Scaled(ScriptAnswer), ScriptAnswerFloor);
}

} // namespace TimeLimits
