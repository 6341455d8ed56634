#!/usr/bin/env bash
# Sanitizer stage: the C++ suite under AddressSanitizer + UndefinedBehaviorSanitizer in a clang
# build that also runs the thread-safety analysis as errors, the Python suite against that
# build of the module, and the concurrency tests under ThreadSanitizer. Any report fails it.
#
#   scripts/sanitizers.sh            everything (CI)
#   scripts/sanitizers.sh asan       only the clang ASan+UBSan build and its C++ tests
#   scripts/sanitizers.sh python     only the Python suite (after asan has built the module)
#   scripts/sanitizers.sh tsan       only the ThreadSanitizer build and tests
#   QUARVEL_STRESS_SCALE=1 scripts/sanitizers.sh tsan   stress tests at their full length
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
stages=("$@")
if [ ${#stages[@]} -eq 0 ]; then stages=(check asan python tsan); fi

"$root/scripts/install-deps.sh" clang libclang-rt-14-dev ninja-build cmake

# Stress tests multiply their frame counts and durations by this; sanitized code runs several
# times slower, so CI keeps them short here.
export QUARVEL_STRESS_SCALE=${QUARVEL_STRESS_SCALE:-0.05}
# Every report ends the program with a failure: a test that triggers one fails.
export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:abort_on_error=0:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

jobs=$(nproc)
configure() {  # configure <build dir> <sanitizers> [cmake options...]
    local dir=$1 sanitizers=$2
    shift 2
    nice cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DPython3_EXECUTABLE=/usr/bin/python3 -DQUARVEL_WERROR=ON \
        -DQUARVEL_SANITIZERS="$sanitizers" \
        -DQUARVEL_BUILD_BENCH=OFF -DQUARVEL_BUILD_EXAMPLES=OFF \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
        -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" "$@" >/dev/null
}

# The flags really bite: a tiny faulty program must be stopped by each sanitizer.
check_sanitizers_bite() {
    local dir
    dir=$(mktemp -d)
    trap 'rm -rf "$dir"' RETURN
    cat >"$dir/faulty.cpp" <<'EOF'
#include <cstdlib>
#include <thread>
int shared = 0;
int main(int argc, char** argv) {
    const int fault = std::atoi(argv[1]);
    if (fault == 0) {  // heap overflow
        int* numbers = new int[4];
        numbers[argc + 3] = 1;
        delete[] numbers;
    } else if (fault == 1) {  // signed overflow
        int big = 0x7fffffff - 1 + argc;
        return big + argc > 0 ? 0 : 1;
    } else {  // data race
        std::thread other([] { ++shared; });
        ++shared;
        other.join();
    }
    return 0;
}
EOF
    clang++ -std=c++17 -g -O1 -fsanitize=address,undefined -fno-sanitize-recover=all \
        "$dir/faulty.cpp" -o "$dir/asan"
    clang++ -std=c++17 -g -O1 -fsanitize=thread "$dir/faulty.cpp" -o "$dir/tsan" -pthread
    local expect
    for expect in "0 asan AddressSanitizer: heap-buffer-overflow" \
        "1 asan runtime error: signed integer overflow" \
        "2 tsan ThreadSanitizer: data race"; do
        read -r fault program message <<<"$expect"
        if "$dir/$program" "$fault" >"$dir/out" 2>&1; then
            echo "sanitizers: the $program build did not stop at fault $fault" >&2
            return 1
        fi
        if ! grep -q "$message" "$dir/out"; then
            echo "sanitizers: the $program build did not report \"$message\"" >&2
            cat "$dir/out" >&2
            return 1
        fi
    done
    echo "sanitizers: each sanitizer stops a faulty program"
}

asan_dir=$root/build-asan
tsan_dir=$root/build-tsan

run_asan() {
    # One clang build for ASan+UBSan that is also the thread-safety analysis build
    # (-Wthread-safety with -Werror, see CMakeLists.txt).
    configure "$asan_dir" address,undefined
    nice cmake --build "$asan_dir" --parallel "$jobs"
    # Left out: `python` runs below with the runtime preloaded; `packaging` (typing, wheel,
    # release metadata) checks the ordinary build, not this one; benchmarks and examples are
    # not built here.
    nice ctest --test-dir "$asan_dir" --output-on-failure --parallel "$jobs" \
        -LE '^(python|packaging)$' --timeout 900
}

run_python() {
    # CPython is not instrumented, so the ASan runtime is preloaded for the module to load
    # into; its UBSan checks come with it.
    local runtime
    runtime=$(clang++ -print-file-name=libclang_rt.asan-x86_64.so)
    if [ ! -f "$runtime" ]; then
        echo "sanitizers: no ASan runtime at $runtime" >&2
        return 1
    fi
    # detect_leaks=0: the interpreter and numpy keep allocations until exit by design, and
    # leak checking would report them, not ours; the C++ suite above checks our leaks.
    # test_interpreter_version_is_checked is left out: it loads a second build of the module
    # with RTLD_DEEPBIND, which the sanitizer runtime refuses (google/sanitizers#611).
    (cd "$asan_dir/tests/python" &&
        env LD_PRELOAD="$runtime" \
            ASAN_OPTIONS="${ASAN_OPTIONS//detect_leaks=1/detect_leaks=0}" \
            PYTHONPATH="$asan_dir/python" PYTHONDONTWRITEBYTECODE=1 \
            nice /usr/bin/python3 -m pytest -q -p no:cacheprovider --confcutdir "$root/tests/python" \
            -m "not browser" -k "not test_interpreter_version_is_checked" "$root/tests/python")
}

run_tsan() {
    # The tests where threads meet: the camera's pool, capture thread and controls (core),
    # streaming over the simulated kernel (csi) and the simulated USB camera (usb), the phase
    # library on the capture thread (vga_camera, vga_usb), the recorder's writer thread
    # (recording), and the stress tests. The others are single-threaded computations that
    # the ASan run covers.
    configure "$tsan_dir" thread -DQUARVEL_BUILD_PYTHON=OFF
    local area targets=() labels=() known
    # Listed once and matched without `grep -q`: a grep that quits at the first match lets
    # ninja die of SIGPIPE, and under pipefail that silently dropped whole areas.
    known=$(ninja -C "$tsan_dir" -t targets all)
    for area in core csi usb vga_camera vga_usb stress recording; do
        if grep "^quarvel_${area}_tests:" >/dev/null <<<"$known"; then
            targets+=("quarvel_${area}_tests")
            labels+=("$area")
        else
            echo "sanitizers: no quarvel_${area}_tests in this build; TSan skips that area" >&2
        fi
    done
    nice cmake --build "$tsan_dir" --parallel "$jobs" --target "${targets[@]}"
    local pattern
    pattern="^($(
        IFS='|'
        echo "${labels[*]}"
    ))\$"
    nice ctest --test-dir "$tsan_dir" --output-on-failure --parallel "$jobs" -L "$pattern" \
        --timeout 900
}

for stage in "${stages[@]}"; do
    case $stage in
        check) check_sanitizers_bite ;;
        asan) run_asan ;;
        python) run_python ;;
        tsan) run_tsan ;;
        *)
            echo "usage: $0 [check|asan|python|tsan]..." >&2
            exit 2
            ;;
    esac
done
echo "sanitizers: no reports"
