#!/usr/bin/env bash
# Sets up what is missing, builds both architectures and runs every test under Wine, each build
# in a fresh prefix of its own: the 32-bit build, the one that ships, as a 32-bit program runs on
# 64-bit Windows (WOW64, with the registry's and the system folder's redirection), then the 64-bit
# build. Where the kernel cannot run i386 programs (so there is no 32-bit Wine), the summary says
# so and only the 64-bit build runs; that alone is no failure. Extra arguments go to ctest (for
# example -R Path) in both runs; OBX_TEST_ARCHS="win64" (or "win32") runs one build only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh"
"$root/scripts/build.sh"
out=${OBX_BUILD:-$root/build}
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
archs=${OBX_TEST_ARCHS:-win32 win64}
if [[ " $archs " == *" win32 "* ]] && ! { "$root/scripts/runs-i386.sh" && [ -x /usr/lib/wine/wine ]; }; then
  archs=${archs//win32/}
  echo "32-bit build (the shipped program) not tested: this kernel cannot run i386 programs" \
    "(or Debian's 32-bit Wine is missing); the 64-bit build's tests ran alone" >>"$summary"
fi
code=0
for arch in $archs; do
  echo "== $arch: tests under Wine"
  OBX_ARCH=$arch OBX_SUMMARY=$summary \
    "$root/scripts/wine-session.sh" "$root/scripts/run-ctest.sh" "$out/$arch" "$@" || code=1
done
echo "== Summary"
cat "$summary"
exit "$code"
