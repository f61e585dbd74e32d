#!/usr/bin/env bash
# Builds and runs every benchmark under Wine in a fresh prefix and prints their reports.
# Arguments name benchmarks to run (default: all), e.g. `scripts/bench.sh langfile`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${OBX_IN_XVFB:-}" ]; then
  "$root/scripts/bootstrap.sh"
  "$root/scripts/build.sh"
  exec "$root/scripts/wine-session.sh" "$0" "$@"
fi
out=${OBX_BUILD:-$root/build}/win64
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
