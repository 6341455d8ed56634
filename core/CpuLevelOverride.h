// QUARVEL_CPU_LEVEL: caps the instruction-set level the run-time kernel selection may pick,
// so that one machine can run (and benchmark) the builds its users' CPUs would get.
#pragma once

#include <cstdlib>
#include <cstring>

namespace Quarvel {

// Rank of a kernel build by its variant name: "baseline" 0, "x86-64-v2" 2, "x86-64-v3" 3,
// "x86-64-v4" 4, "neon" 1; an unknown name ranks above everything.
inline int cpuLevelRank(const char* name) {
    if (std::strcmp(name, "baseline") == 0 || std::strcmp(name, "scalar") == 0) return 0;
    if (std::strcmp(name, "neon") == 0) return 1;
    if (std::strcmp(name, "v2") == 0 || std::strcmp(name, "x86-64-v2") == 0) return 2;
    if (std::strcmp(name, "v3") == 0 || std::strcmp(name, "x86-64-v3") == 0) return 3;
    if (std::strcmp(name, "v4") == 0 || std::strcmp(name, "x86-64-v4") == 0) return 4;
    return 5;
}

// True when QUARVEL_CPU_LEVEL (scalar|baseline, neon, v2, v3, v4) is unset or empty, or
// ranks at least as high as the named build. Read at each call: the selections call it once.
inline bool cpuLevelAllowed(const char* variantName) {
    const char* forced = std::getenv("QUARVEL_CPU_LEVEL");
    if (forced == nullptr || forced[0] == '\0') return true;
    return cpuLevelRank(variantName) <= cpuLevelRank(forced);
}

}  // namespace Quarvel
