#!/usr/bin/env bash
# Installs the Debian packages the build and the Wine test rig need, and Debian's 32-bit Wine
# beside the 64-bit one where the kernel runs i386 programs (scripts/runs-i386.sh), so that the
# shipped 32-bit program and its tests run as a 32-bit program on 64-bit Windows does.
# Idempotent: prints nothing and touches nothing when everything is already there; says in one
# line when this kernel cannot run 32-bit programs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
          binutils-mingw-w64-x86-64 wine64 xvfb xauth googletest python3 imagemagick)
i386=""
if "$root/scripts/runs-i386.sh"; then
  i386=1
  packages+=(wine wine32:i386)
else
  echo "bootstrap: this kernel cannot run i386 programs; no 32-bit Wine, only the 64-bit build is tested"
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "bootstrap: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
if [ -n "$i386" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq >/dev/null
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
