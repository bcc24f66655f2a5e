#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs every test twice (a normal
# build and one under AddressSanitizer + UndefinedBehaviorSanitizer), then runs each fuzzer briefly.
# FUZZ_SECONDS (default 30) sets how long each fuzzer runs; 0 skips fuzzing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)
bash tools/install-deps.sh

run_suite() {  # build dir, extra cmake flags...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 900)
}

mkdir -p build build-asan
echo "=== normal build"
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "=== sanitizer build (ASan + UBSan)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON -DVELMORA_BENCH=OFF

fuzz_seconds=${FUZZ_SECONDS:-30}
if [[ "$fuzz_seconds" != 0 ]] && ls fuzz/*.cmake > /dev/null 2>&1; then
  echo "=== fuzzers, ${fuzz_seconds}s each"
  mkdir -p build-fuzz
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON > build-fuzz.configure.log 2>&1 \
    || { cat build-fuzz.configure.log; exit 1; }
  cmake --build build-fuzz -j "$jobs"
  for fz in build-fuzz/fuzz/fuzz_*; do
    [[ -x "$fz" ]] || continue
    name=$(basename "$fz")
    work=$(mktemp -d)
    [[ -d "fuzz/corpus/$name" ]] && cp -r "fuzz/corpus/$name/." "$work/"
    dict=(); [[ -f "fuzz/$name.dict" ]] && dict=(-dict="fuzz/$name.dict")
    echo "--- $name"
    "$fz" "${dict[@]}" -max_total_time="$fuzz_seconds" -print_final_stats=1 "$work" 2>&1 | tail -n 3
    rm -rf "$work"
  done
fi
echo "all test stages passed"
