// Marks a hot routine to be built once per x86-64 level and chosen when the program loads.
#pragma once

// QUARVEL_INSTRUCTION_SET_CLONES before a function definition builds it for AVX-512
// (x86-64-v4), AVX2 (x86-64-v3) and the baseline, and lets the loader pick the best one the
// CPU has (GNU ifunc). Elsewhere (ARM, other compilers) the function is built once for the
// target's baseline, which on 64-bit ARM already has 128-bit vectors. Meant for loops that
// the compiler vectorises; results are the same in every build.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__)
#define QUARVEL_INSTRUCTION_SET_CLONES \
    __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define QUARVEL_INSTRUCTION_SET_CLONES
#endif
