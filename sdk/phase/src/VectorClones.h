// Marks a per-pixel loop of the phase library to be built per x86-64 level, chosen at load.
#pragma once

// SI4C_VECTOR_CLONES before a function definition builds it for AVX-512 (x86-64-v4), AVX2
// (x86-64-v3) and the baseline; the loader picks the best the CPU has (GNU ifunc). Elsewhere
// it is empty: 64-bit ARM's baseline already has 128-bit vectors. The library is built with
// -ffp-contract=off, so no build fuses a multiply and an add: every build gives the same
// bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__)
#define SI4C_VECTOR_CLONES \
    __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define SI4C_VECTOR_CLONES
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
