// The scale knob of the heavy tests (QUARVEL_STRESS_SCALE) and the figures they report.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace stress {

// QUARVEL_STRESS_SCALE (a positive float, default 1): every count and duration of the
// stress tests is multiplied by it.
double scale();
// `count` times the scale, at least `minimum`.
int64_t scaled(int64_t count, int64_t minimum = 1);
std::chrono::milliseconds scaledDuration(std::chrono::milliseconds duration);

// How many of `count` cases to run: all at scale 1 and above, else `count` times the scale
// rounded up, at least `minimum` of them.
size_t scaledShare(size_t count, size_t minimum = 1);
// Which of `count` cases to run: all at scale 1 and above, else a share spread evenly over
// them (the first always among them), at least `minimum` of them.
std::vector<size_t> spreadSelection(size_t count, size_t minimum = 1);

// One line of figures for the test log, e.g. "[stress] long stream: frames streamed 250000".
void report(const std::string& what);

}  // namespace stress
