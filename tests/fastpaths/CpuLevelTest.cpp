// QUARVEL_CPU_LEVEL: the cap on the instruction-set level the run-time selections pick.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/CpuLevelOverride.h"
#include "core/InstructionSetClones.h"
#include "device/HqvgaPhaseKernel.h"

using namespace Quarvel;

namespace {

// Sets QUARVEL_CPU_LEVEL for one scope and puts the previous value back.
class ForcedLevel {
public:
    explicit ForcedLevel(const char* level) {
        const char* previous = std::getenv("QUARVEL_CPU_LEVEL");
        hadPrevious = previous != nullptr;
        if (hadPrevious) saved = previous;
        if (level != nullptr) {
            setenv("QUARVEL_CPU_LEVEL", level, 1);
        } else {
            unsetenv("QUARVEL_CPU_LEVEL");
        }
    }
    ~ForcedLevel() {
        if (hadPrevious) {
            setenv("QUARVEL_CPU_LEVEL", saved.c_str(), 1);
        } else {
            unsetenv("QUARVEL_CPU_LEVEL");
        }
    }
    ForcedLevel(const ForcedLevel&) = delete;
    ForcedLevel& operator=(const ForcedLevel&) = delete;

private:
    bool hadPrevious = false;
    std::string saved;
};

}  // namespace

TEST(CpuLevel, ForcedLevelAllowsItsOwnBuildAndLesserOnesOnly) {
    {
        ForcedLevel level("v3");
        EXPECT_FALSE(cpuLevelAllowed("x86-64-v4"));
        EXPECT_TRUE(cpuLevelAllowed("x86-64-v3"));
        EXPECT_TRUE(cpuLevelAllowed("x86-64-v2"));
        EXPECT_TRUE(cpuLevelAllowed("baseline"));
    }
    {
        ForcedLevel level("scalar");
        EXPECT_FALSE(cpuLevelAllowed("neon"));
        EXPECT_FALSE(cpuLevelAllowed("x86-64-v2"));
        EXPECT_TRUE(cpuLevelAllowed("baseline"));
    }
    {
        ForcedLevel level("neon");
        EXPECT_TRUE(cpuLevelAllowed("neon"));
        EXPECT_FALSE(cpuLevelAllowed("x86-64-v2"));
    }
    for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
        ForcedLevel level(unset);
        EXPECT_TRUE(cpuLevelAllowed("x86-64-v4"));
        EXPECT_TRUE(cpuLevelAllowed("neon"));
    }
}

// Run by ctest once per level with QUARVEL_CPU_LEVEL set (tests/fastpaths/CMakeLists.txt).
TEST(CpuLevel, SelectedPhaseKernelStaysWithinTheForcedLevel) {
    const char* forced = std::getenv("QUARVEL_CPU_LEVEL");
    if (forced == nullptr || forced[0] == '\0') GTEST_SKIP() << "no level forced in this run";
    const hqvga::PhaseKernelVariant& selected = hqvga::selectedPhaseKernel();
    EXPECT_TRUE(selected.supported());
    EXPECT_LE(cpuLevelRank(selected.name), cpuLevelRank(forced)) << selected.name;
    // And it is the best such build: none ranked between it and the cap runs here.
    size_t count = 0;
    const hqvga::PhaseKernelVariant* variants = hqvga::phaseKernelVariants(&count);
    for (size_t v = 0; v < count; ++v) {
        if (!variants[v].supported() || !cpuLevelAllowed(variants[v].name)) continue;
        EXPECT_LE(cpuLevelRank(variants[v].name), cpuLevelRank(selected.name)) << variants[v].name;
    }
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__)
// Run by ctest once per level with QUARVEL_CPU_LEVEL set: the raw interleave and the USB
// conversion (QUARVEL_LEVEL_BUILDS) run the best build the CPU has within the cap.
TEST(CpuLevel, LevelBuildsStayWithinTheForcedLevel) {
    const int level = selectedLevelBuild();
    const char* name = level == 4 ? "x86-64-v4" : level == 3 ? "x86-64-v3" : "baseline";
    const int best = x86SupportsLevel4() ? 4 : x86SupportsLevel3() ? 3 : 0;
    const char* forced = std::getenv("QUARVEL_CPU_LEVEL");
    if (forced == nullptr || forced[0] == '\0') {
        EXPECT_EQ(level, best);
        return;
    }
    const int cap = cpuLevelRank(forced);
    EXPECT_LE(cpuLevelRank(name), cap) << name << " under " << forced;
    // The best allowed one: 4 if allowed and run here, else 3 likewise, else the baseline.
    const int expected = best >= 4 && cap >= 4 ? 4 : best >= 3 && cap >= 3 ? 3 : 0;
    EXPECT_EQ(level, expected) << forced;
}
#endif
