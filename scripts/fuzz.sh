#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang, ASan and UBSan into build-fuzz/ and runs
# each from its seed corpus for a bounded time. Fails on any crash, leak, sanitizer report or
# broken invariant. Prints the executions of every target.
#
#   scripts/fuzz.sh                       every target, FUZZ_SECONDS (default 5) each
#   scripts/fuzz.sh fuzz_y12p_unpack      one target
#   FUZZ_SECONDS=600 scripts/fuzz.sh X    longer; new inputs go to build-fuzz/corpus/X
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-5}

"$root/scripts/install-deps.sh" clang libclang-rt-14-dev cmake ninja-build ||
  echo "fuzz: installing clang and its sanitizer runtimes failed" >&2
# Whatever the installation said: skip only when clang cannot build a fuzzer here.
probe=$(mktemp -d)
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
  >"$probe/probe.cpp"
if ! clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" \
  >/dev/null 2>&1; then
  rm -rf "$probe"
  echo "fuzz: clang with libFuzzer and the sanitizers cannot be had here; fuzzing skipped" >&2
  exit 0
fi
rm -rf "$probe"

CC=clang CXX=clang++ nice cmake -S "$root" -B "$build_dir" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEL_FUZZ=ON -DQUARVEL_WERROR=ON >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(cd "$root/fuzz" && ls fuzz_*.cpp | sed 's/\.cpp$//')
fi
nice cmake --build "$build_dir" --parallel "$(nproc)" --target "${targets[@]}"

# Targets run in a scratch directory: the phase library looks for its files in the working
# directory, and libFuzzer writes crash inputs there.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=()
printf '%-26s %12s %10s %8s\n' target executions exec/s result
for target in "${targets[@]}"; do
  seeds="$root/fuzz/corpus/$target"
  # New inputs land in a corpus of the build tree; the committed seeds stay as they are.
  corpus="$build_dir/corpus/$target"
  mkdir -p "$corpus" "$work/$target"
  log="$work/$target.log"
  status=0
  (cd "$work/$target" && nice "$build_dir/fuzz/$target" -max_total_time="$seconds" \
    -print_final_stats=1 -close_fd_mask=3 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$work/$target/" "$corpus" "$seeds") >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  result=ok
  if [ $status -ne 0 ]; then
    result=FAILED
    failed+=("$target")
    echo "---- $target (exit $status) ----" >&2
    grep -v '^#' "$log" | tail -60 >&2
    for artifact in "$work/$target"/crash-* "$work/$target"/leak-* "$work/$target"/timeout-* \
      "$work/$target"/oom-*; do
      [ -e "$artifact" ] || continue
      mkdir -p "$build_dir/artifacts/$target"
      cp "$artifact" "$build_dir/artifacts/$target/"
      echo "input kept: $build_dir/artifacts/$target/$(basename "$artifact")" >&2
    done
  fi
  printf '%-26s %12s %10s %8s\n' "$target" "${runs:-?}" "${speed:-?}" "$result"
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: failed: ${failed[*]} (replay an input: $build_dir/fuzz/<target> <input>)" >&2
  exit 1
fi
