#!/usr/bin/env bash
# Configures and builds both architectures: build/win32 (the shipped 32-bit program, tests
# compiled but not run) and build/win64 (the same source, run under Wine by the tests).
# OBX_BUILD names another build root (default: build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${OBX_BUILD:-$root/build}
jobs=$(nproc)

for arch in win32:i686 win64:x86_64; do
  dir=$out/${arch%%:*}
  mkdir -p "$out"
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-${arch##*:}.cmake" \
      -DCMAKE_BUILD_TYPE=Release >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
  fi
  # With pipefail the pipeline fails when the build does; grep finding no line is no failure.
  if ! cmake --build "$dir" -j "$jobs" -- --no-print-directory |
      { grep -v -E '^\[ *[0-9]+%\]' || true; }; then
    echo "build of ${arch%%:*} failed" >&2; exit 1
  fi
done
