// The invariant check of the fuzz targets: a broken invariant is a crash libFuzzer records.
#pragma once

#include <sanitizer/common_interface_defs.h>

#include <cstdio>
#include <cstdlib>

// Reports file, line and condition on the sanitizers' report stream (which stays open when
// libFuzzer closes standard error), then aborts, so that libFuzzer saves the input.
#define FUZZ_CHECK(condition)                                                               \
    do {                                                                                    \
        if (!(condition)) {                                                                 \
            char fuzzCheckMessage[512];                                                     \
            std::snprintf(fuzzCheckMessage, sizeof fuzzCheckMessage,                        \
                          "invariant broken at %s:%d: %s", __FILE__, __LINE__, #condition); \
            __sanitizer_report_error_summary(fuzzCheckMessage);                             \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)
