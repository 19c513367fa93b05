#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) into build-fuzz/ (or $FUZZ_BUILD_DIR) and runs
# each for $1 seconds (default 60) from the seeds in fuzz/corpus. A crash,
# leak, hang or sanitizer finding fails it; the input that caused it is left
# in build-fuzz/artifacts: add it to fuzz/regressions/<tga|obj>/ once fixed.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${1:-60}
"$root/scripts/setup.sh" --checks
cmake -S "$root" --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target tga_fuzz obj_fuzz

export ASAN_OPTIONS=detect_leaks=1
export LSAN_OPTIONS=suppressions=$root/fuzz/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$build/artifacts"
failed=0
for name in tga obj; do
  mkdir -p "$build/work/$name"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
    -artifact_prefix="$build/artifacts/$name-")
  if [[ $name == obj ]]; then options+=(-max_len=4096 -dict="$root/fuzz/obj.dict"); else options+=(-max_len=8192); fi
  status=0
  corpora=("$build/work/$name" "$root/fuzz/corpus/$name")
  if [[ -d $root/fuzz/regressions/$name ]]; then corpora+=("$root/fuzz/regressions/$name"); fi
  "$build/fuzz/${name}_fuzz" "${options[@]}" "${corpora[@]}" >"$build/$name.log" 2>&1 || status=$?
  grep -E "^stat::(number_of_executed_units|average_exec_per_sec)" "$build/$name.log" |
    sed "s/^/fuzz: ${name}_fuzz /"
  grep -E "cov: [0-9]+" -o "$build/$name.log" | tail -n 1 | sed "s/^/fuzz: ${name}_fuzz edges /"
  if ((status != 0)); then
    grep -E "ERROR|SUMMARY|Test unit written" "$build/$name.log" >&2 || true
    echo "fuzz: ${name}_fuzz found a fault (status $status)" >&2
    failed=1
  fi
done
exit "$failed"
