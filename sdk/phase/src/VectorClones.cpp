// The level the phase library's per-pixel loops run at, chosen once.
#include "sdk/phase/src/VectorClones.h"

#include "core/CpuLevelOverride.h"
#include "core/X86CpuFeatures.h"

namespace si4c {

namespace {

VectorLevel chooseVectorLevel() {
#if SI4C_X86_LEVEL_BUILDS
    if (Quarvel::x86SupportsLevel4() && Quarvel::cpuLevelAllowed("x86-64-v4"))
        return VectorLevel::X86V4;
    if (Quarvel::x86SupportsLevel3() && Quarvel::cpuLevelAllowed("x86-64-v3"))
        return VectorLevel::X86V3;
#endif
    return VectorLevel::Baseline;
}

}  // namespace

VectorLevel selectedVectorLevel() {
    static const VectorLevel chosen = chooseVectorLevel();
    return chosen;
}

const char* vectorLevelName(VectorLevel level) {
    switch (level) {
        case VectorLevel::X86V4:
            return "x86-64-v4";
        case VectorLevel::X86V3:
            return "x86-64-v3";
        case VectorLevel::Baseline:
            break;
    }
    return "baseline";
}

}  // namespace si4c
