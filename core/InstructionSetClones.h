// Marks a hot routine to be built once per x86-64 level and chosen at run time or load time.
#pragma once

#include "core/CpuLevelOverride.h"
#include "core/X86CpuFeatures.h"

// QUARVEL_INSTRUCTION_SET_CLONES before a function definition builds it for AVX-512
// (x86-64-v4), AVX2 (x86-64-v3) and the baseline, and lets the loader pick the best one the
// CPU has (GNU ifunc). QUARVEL_CPU_LEVEL does not reach that choice: routines that the
// benchmarks measure use QUARVEL_LEVEL_BUILDS below instead. Elsewhere (ARM, other
// compilers) the function is built once for the target's baseline, which on 64-bit ARM
// already has 128-bit vectors. Meant for loops that the compiler vectorises; results are the
// same in every build.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__)
#define QUARVEL_INSTRUCTION_SET_CLONES \
    __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define QUARVEL_INSTRUCTION_SET_CLONES
#endif

// QUARVEL_LEVEL_BUILDS(Return, name, (parameters), (arguments)) defines `Return name(parameters)`
// running nameBody(arguments), defined before it, as built for x86-64-v4, x86-64-v3 or the
// baseline: the best one the CPU runs within QUARVEL_CPU_LEVEL, chosen on the first call of
// any such routine. Each build inlines everything it calls (flatten). Elsewhere there is one
// build. Use it inside an unnamed namespace.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__)
namespace Quarvel {
// 4, 3 or 0: the level the QUARVEL_LEVEL_BUILDS routines run at. Thread-safe.
inline int selectedLevelBuild() {
    static const int level = x86SupportsLevel4() && cpuLevelAllowed("x86-64-v4")   ? 4
                             : x86SupportsLevel3() && cpuLevelAllowed("x86-64-v3") ? 3
                                                                                   : 0;
    return level;
}
}  // namespace Quarvel
#define QUARVEL_LEVEL_BUILDS(Return, name, parameters, arguments)                              \
    __attribute__((target("arch=x86-64-v4"), flatten)) Return name##X86V4 parameters {         \
        return name##Body arguments;                                                           \
    }                                                                                          \
    __attribute__((target("arch=x86-64-v3"), flatten)) Return name##X86V3 parameters {         \
        return name##Body arguments;                                                           \
    }                                                                                          \
    __attribute__((flatten)) Return name##Baseline parameters { return name##Body arguments; } \
    Return name parameters {                                                                   \
        switch (::Quarvel::selectedLevelBuild()) {                                             \
            case 4:                                                                            \
                return name##X86V4 arguments;                                                  \
            case 3:                                                                            \
                return name##X86V3 arguments;                                                  \
            default:                                                                           \
                return name##Baseline arguments;                                               \
        }                                                                                      \
    }
#else
#define QUARVEL_LEVEL_BUILDS(Return, name, parameters, arguments) \
    Return name parameters { return name##Body arguments; }
#endif
