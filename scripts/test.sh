#!/usr/bin/env bash
# Sets up what is missing, builds both architectures and runs every test under Wine in a fresh
# prefix. Extra arguments go to ctest (for example -R Path).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh"
"$root/scripts/build.sh"
out=${OBX_BUILD:-$root/build}
exec "$root/scripts/wine-session.sh" "$root/scripts/run-ctest.sh" "$out/win64" "$@"
