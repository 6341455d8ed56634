// The scale knob of the heavy tests and the figures they report.
#include "tests/support/StressScale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace stress {

double scale() {
    const char* text = std::getenv("QUARVEL_STRESS_SCALE");
    if (text == nullptr || *text == '\0') return 1.0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    return end != text && value > 0 ? value : 1.0;
}

int64_t scaled(int64_t count, int64_t minimum) {
    const auto value = static_cast<int64_t>(static_cast<double>(count) * scale());
    return value < minimum ? minimum : value;
}

std::chrono::milliseconds scaledDuration(std::chrono::milliseconds duration) {
    return std::chrono::milliseconds(scaled(duration.count(), 1));
}

size_t scaledShare(size_t count, size_t minimum) {
    const auto keep = static_cast<size_t>(std::ceil(static_cast<double>(count) * scale()));
    return std::min(count, std::max(keep, minimum));
}

std::vector<size_t> spreadSelection(size_t count, size_t minimum) {
    const size_t keep = scaledShare(count, minimum);
    std::vector<size_t> chosen;
    for (size_t i = 0; i < keep; ++i) chosen.push_back(i * count / keep);
    return chosen;
}

void report(const std::string& what) {
    std::printf("[stress] %s\n", what.c_str());
    std::fflush(stdout);
}

}  // namespace stress
