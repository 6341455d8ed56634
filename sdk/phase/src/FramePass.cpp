// One frame's pass, built once per instruction-set level and run at the selected one.
#include "sdk/phase/src/FramePass.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sdk/phase/si4c_raw_layout.h"
#include "sdk/phase/src/BoxFilterRows.h"
#include "sdk/phase/src/DepthPipeline.h"
#include "sdk/phase/src/FastPhase.h"
#include "sdk/phase/src/VectorClones.h"

// A row step: a function of its own, everything it calls inlined into it.
#define SI4C_STEP __attribute__((noinline, flatten))

namespace si4c {
namespace {

// Each level's build is the same source in a namespace of its own, compiled for that level by
// a target region; helpers from the headers above are inlined into it and built for it too.
// kPolynomialInLastLoop: with one frequency, the polynomial of the phase in the last loop
// rather than in a loop of its own. With 32 registers and sixteen lanes per chain the
// x86-64-v4 build runs the one loop faster (by about 3 %); the others wait on its chains
// (the x86-64-v3 build took 7 % longer, the baseline 15 %).
#if SI4C_X86_LEVEL_BUILDS
#pragma GCC push_options
#pragma GCC target("arch=x86-64-v4")
namespace x86v4 {
constexpr bool kPolynomialInLastLoop = true;
#include "sdk/phase/src/FramePassSteps.inc"
}  // namespace x86v4
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("arch=x86-64-v3")
namespace x86v3 {
constexpr bool kPolynomialInLastLoop = false;
#include "sdk/phase/src/FramePassSteps.inc"
}  // namespace x86v3
#pragma GCC pop_options
#endif

namespace baseline {
constexpr bool kPolynomialInLastLoop = false;
#include "sdk/phase/src/FramePassSteps.inc"
}  // namespace baseline

}  // namespace

void processFrame(const FrameJob& job) {
#if SI4C_X86_LEVEL_BUILDS
    switch (selectedVectorLevel()) {
        case VectorLevel::X86V4:
            x86v4::processFrame(job);
            return;
        case VectorLevel::X86V3:
            x86v3::processFrame(job);
            return;
        case VectorLevel::Baseline:
            break;
    }
#endif
    baseline::processFrame(job);
}

}  // namespace si4c
