// Test bench shared by the stand-in libraries: calls counted per function, and failures
// scripted for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/ThreadSafety.h"

namespace Quarvel {

// The functions are named by a fixed table; counting a call allocates nothing, so the bench
// can sit on a per-frame path. Thread-safe.
template <size_t N>
class CallFaultBench {
public:
    explicit CallFaultBench(const char* const (&functionNames)[N]) : names(functionNames) {}

    // Index of `name` in the table, or -1.
    int indexOf(const char* name) const {
        if (name == nullptr) return -1;
        for (size_t i = 0; i < N; ++i) {
            if (std::strcmp(names[i], name) == 0) return static_cast<int>(i);
        }
        return -1;
    }

    // Counts a call of `function`; the status it must fail with, or 0 to go on.
    int onCall(const char* function) EXCLUDES(mutex) {
        const int index = indexOf(function);
        if (index < 0) return 0;
        MutexLock lock(mutex);
        ++calls[index];
        Rule& rule = rules[index];
        if (rule.skip > 0) {
            --rule.skip;
            return 0;
        }
        if (rule.times == 0) return 0;
        --rule.times;
        return rule.status;
    }

    // After `skip` further calls, the next `times` calls of `function` fail with `status`
    // (non-zero). -1 for an unknown function or a zero status.
    int fail(const char* function, int status, uint64_t skip, uint64_t times) EXCLUDES(mutex) {
        const int index = indexOf(function);
        if (index < 0 || status == 0) return -1;
        MutexLock lock(mutex);
        rules[index] = Rule{status, skip, times};
        return 0;
    }

    void clear() EXCLUDES(mutex) {
        MutexLock lock(mutex);
        for (Rule& rule : rules) rule = Rule{};
    }

    uint64_t callCount(const char* function) EXCLUDES(mutex) {
        const int index = indexOf(function);
        if (index < 0) return 0;
        MutexLock lock(mutex);
        return calls[index];
    }

private:
    struct Rule {
        int status = 0;
        uint64_t skip = 0;
        uint64_t times = 0;
    };

    const char* const (&names)[N];
    Mutex mutex;  // guards calls and rules
    uint64_t calls[N] GUARDED_BY(mutex) = {};
    Rule rules[N] GUARDED_BY(mutex) = {};
};

}  // namespace Quarvel
