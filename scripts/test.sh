#!/usr/bin/env bash
# Sets up what is missing, builds both architectures and runs every test under Wine in a fresh
# prefix. Extra arguments go to ctest (for example -R Path).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh"
"$root/scripts/build.sh"
out=${OBX_BUILD:-$root/build}
# One test at a time: the UI tests drive the foreground window and several tests share the
# prefix's real registry and shell folders, so running them side by side makes them flaky.
exec "$root/scripts/wine-session.sh" ctest --test-dir "$out/win64" --output-on-failure \
  --timeout 300 "$@"
