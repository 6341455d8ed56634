// The phase library's per-level builds: QUARVEL_CPU_LEVEL caps the one chosen.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/CpuLevelOverride.h"
#include "core/X86CpuFeatures.h"
#include "sdk/phase/src/VectorClones.h"

using namespace Quarvel;

namespace {

bool levelRuns(si4c::VectorLevel level) {
    switch (level) {
#if defined(__x86_64__) && defined(__GNUC__)
        case si4c::VectorLevel::X86V4:
            return x86SupportsLevel4();
        case si4c::VectorLevel::X86V3:
            return x86SupportsLevel3();
#else
        case si4c::VectorLevel::X86V4:
        case si4c::VectorLevel::X86V3:
            return false;
#endif
        case si4c::VectorLevel::Baseline:
            return true;
    }
    return false;
}

}  // namespace

// Run by ctest with no level and once per forced level (tests/phase/CMakeLists.txt): the
// PhasePass tests beside it then prove that build's bits.
TEST(PhaseLevel, SelectedBuildIsTheBestTheCpuRunsWithinTheForcedLevel) {
    const si4c::VectorLevel selected = si4c::selectedVectorLevel();
    const char* name = si4c::vectorLevelName(selected);
    ASSERT_TRUE(levelRuns(selected)) << name;
    const char* forced = std::getenv("QUARVEL_CPU_LEVEL");
    if (forced != nullptr && forced[0] != '\0') {
        EXPECT_LE(cpuLevelRank(name), cpuLevelRank(forced)) << name << " under " << forced;
    }
    // No better build that runs here is allowed.
    for (si4c::VectorLevel level :
         {si4c::VectorLevel::X86V4, si4c::VectorLevel::X86V3, si4c::VectorLevel::Baseline}) {
        const char* other = si4c::vectorLevelName(level);
        if (!levelRuns(level) || !cpuLevelAllowed(other)) continue;
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
        EXPECT_LE(cpuLevelRank(other), cpuLevelRank(name)) << other << " would run";
#endif
    }
}
