#!/usr/bin/env bash
# Builds and runs every benchmark under Wine in a fresh prefix and prints their reports.
# Arguments name benchmarks to run (default: all), e.g. `scripts/bench.sh langfile`. All run the
# 64-bit build; the whole-program benchmark then measures the shipped 32-bit build as well, in a
# session of its own where it runs as on 64-bit Windows (a WOW64 process), where this kernel runs
# i386 programs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${OBX_IN_XVFB:-}" ]; then
  "$root/scripts/bootstrap.sh"
  "$root/scripts/build.sh"
  OBX_ARCH=win64 "$root/scripts/wine-session.sh" "$0" "$@"
  if [ $# -eq 0 ] || printf '%s\n' "$@" | grep -qx whole; then
    if "$root/scripts/runs-i386.sh" && [ -x /usr/lib/wine/wine ]; then
      OBX_ARCH=win32 "$root/scripts/wine-session.sh" "$0" whole
    else
      echo "whole: the shipped 32-bit build not measured: this kernel cannot run i386 programs"
    fi
  fi
  exit 0
fi
out=${OBX_BUILD:-$root/build}/$OBX_ARCH
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for f in "$out"/bench_*.exe; do [ -e "$f" ] && names+=("$(basename "$f" .exe | sed 's/^bench_//')"); done
fi
for n in "${names[@]}"; do
  [ -f "$out/bench_$n.exe" ] || continue
  [ -f "$root/bench/scripts/$n.sh" ] && continue  # driven by its script below
  echo "== $n"
  (cd "$out" && "$WINE" "bench_$n.exe" </dev/null 2>&1 | tr -d '\r')
done
# Scripts that drive the real program: all of them, or those named like the arguments.
for s in "$root"/bench/scripts/*.sh; do
  [ -e "$s" ] || continue
  if [ $# -eq 0 ] || printf '%s\n' "$@" | grep -qx "$(basename "$s" .sh)"; then bash "$s"; fi
done
