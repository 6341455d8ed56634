// Per-level builds of the phase library's per-pixel loops, chosen once at first use.
#pragma once

namespace si4c {

// The instruction-set levels the per-pixel loops are built for, best first.
enum class VectorLevel { X86V4, X86V3, Baseline };

// The best level this CPU runs, capped by QUARVEL_CPU_LEVEL (scalar, v2, v3, v4) so that one
// machine can run what a lesser CPU gets. Chosen on the first call. Thread-safe.
VectorLevel selectedVectorLevel();

// "x86-64-v4", "x86-64-v3" or "baseline".
const char* vectorLevelName(VectorLevel level);

}  // namespace si4c

// SI4C_LEVEL_BUILDS(name, (parameters), (arguments)) defines `void name(parameters)`, which
// runs nameBody(arguments) as built for the selected level. nameBody is defined before it;
// each build inlines everything it calls (flatten), so the whole loop nest is compiled for
// its level. On x86-64 with GCC the builds are x86-64-v4 (AVX-512), x86-64-v3 (AVX2) and the
// baseline; elsewhere there is one build (64-bit ARM's baseline already has 128-bit
// vectors). The library is built with -ffp-contract=off, so no build fuses a multiply and an
// add: every build gives the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__)
#define SI4C_X86_LEVEL_BUILDS 1
#define SI4C_LEVEL_BUILDS(name, parameters, arguments)                                       \
    __attribute__((target("arch=x86-64-v4"), flatten)) static void name##X86V4 parameters {  \
        name##Body arguments;                                                                \
    }                                                                                        \
    __attribute__((target("arch=x86-64-v3"), flatten)) static void name##X86V3 parameters {  \
        name##Body arguments;                                                                \
    }                                                                                        \
    __attribute__((flatten)) static void name##Baseline parameters { name##Body arguments; } \
    void name parameters {                                                                   \
        switch (::si4c::selectedVectorLevel()) {                                             \
            case ::si4c::VectorLevel::X86V4:                                                 \
                name##X86V4 arguments;                                                       \
                return;                                                                      \
            case ::si4c::VectorLevel::X86V3:                                                 \
                name##X86V3 arguments;                                                       \
                return;                                                                      \
            case ::si4c::VectorLevel::Baseline:                                              \
                break;                                                                       \
        }                                                                                    \
        name##Baseline arguments;                                                            \
    }
#else
#define SI4C_LEVEL_BUILDS(name, parameters, arguments) \
    void name parameters { name##Body arguments; }
#endif

// Before a loop whose iterations never depend on one another (output rows never overlap the
// input rows): lets GCC's vectoriser skip its runtime overlap checks. clang has no plain
// equivalent (its assume_safety turns a loop it cannot vectorise, as in sanitizer builds,
// into a warning) and checks the overlap at run time instead.
#if defined(__clang__)
#define SI4C_IVDEP
#else
#define SI4C_IVDEP _Pragma("GCC ivdep")
#endif
