#!/usr/bin/env bash
# clang-tidy (checks in .clang-tidy) and cppcheck (suppressions in
# .cppcheck-suppressions, each with its reason) over the film's own sources:
# toolkit/, film/, programs/ and tools/. Any finding fails it.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${ANALYSIS_BUILD_DIR:-$root/build-analysis}
"$root/scripts/setup.sh" --checks
cmake -S "$root" --preset analysis -B "$build" >/dev/null
cd "$root"
# The browser build's own files (web.cpp, *_web.cpp) compile only with
# Emscripten, and the Windows files (*_windows.cpp) only in the cross build.
mapfile -t sources < <(find toolkit film programs tools -name '*.cpp' ! -name 'web.cpp' ! -name '*_web.cpp' \
  ! -name '*_windows.cpp' | LC_ALL=C sort)
if ((${#sources[@]} == 0)); then
  echo "static-analysis: no sources found under $root" >&2
  exit 1
fi

status=0
echo "static-analysis: clang-tidy over ${#sources[@]} files"
printf '%s\n' "${sources[@]}" |
  xargs -P "$(nproc)" -n 4 clang-tidy-14 -p "$build" --quiet 2>/dev/null >"$build/clang-tidy.log" ||
  status=1
grep -E "(warning|error):" "$build/clang-tidy.log" || true

echo "static-analysis: cppcheck over ${#sources[@]} files"
cppcheck --quiet --project="$build/compile_commands.json" --file-filter="$root/toolkit/*" \
  --file-filter="$root/film/*" --file-filter="$root/programs/*" --file-filter="$root/tools/*" --enable=warning,performance,portability \
  --inline-suppr --suppressions-list="$root/.cppcheck-suppressions" --error-exitcode=1 \
  --template='{file}:{line}: {severity}: {message} [{id}]' || status=1

if ((status != 0)); then
  echo "static-analysis: findings above" >&2
  exit 1
fi
echo "static-analysis: no finding"
