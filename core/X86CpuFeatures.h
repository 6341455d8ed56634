// CPU feature tests for x86-64 level builds that both GCC and clang understand.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>

namespace Quarvel {

// True when the CPU has F16C and MOVBE (part of x86-64-v3). clang 14's
// __builtin_cpu_supports knows neither name, so CPUID leaf 1 is read directly.
// Thread-safe.
inline bool x86HasF16cAndMovbe() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    return (ecx & bit_F16C) != 0 && (ecx & bit_MOVBE) != 0;
}

// The x86-64 microarchitecture levels, by the features that make them up. GCC knows the
// level names; clang 14 does not, so it tests the features one by one. Thread-safe.
inline bool x86SupportsLevel2() {
    __builtin_cpu_init();
#if defined(__clang__)
    return __builtin_cpu_supports("sse3") && __builtin_cpu_supports("ssse3") &&
           __builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("sse4.2") &&
           __builtin_cpu_supports("popcnt");
#else
    return __builtin_cpu_supports("x86-64-v2");
#endif
}

inline bool x86SupportsLevel3() {
#if defined(__clang__)
    return x86SupportsLevel2() && __builtin_cpu_supports("avx") && __builtin_cpu_supports("avx2") &&
           __builtin_cpu_supports("fma") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("bmi2") && x86HasF16cAndMovbe();
#else
    __builtin_cpu_init();
    return __builtin_cpu_supports("x86-64-v3");
#endif
}

inline bool x86SupportsLevel4() {
#if defined(__clang__)
    return x86SupportsLevel3() && __builtin_cpu_supports("avx512f") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512cd") &&
           __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
#else
    __builtin_cpu_init();
    return __builtin_cpu_supports("x86-64-v4");
#endif
}

}  // namespace Quarvel

#endif
