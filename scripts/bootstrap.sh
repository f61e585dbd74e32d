#!/usr/bin/env bash
# Installs the Debian packages the build and the Wine test rig need.
# Idempotent: prints nothing and touches nothing when everything is already there.
set -euo pipefail

packages=(cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
          binutils-mingw-w64-x86-64 wine64 xvfb xauth googletest python3 imagemagick)

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
$SUDO apt-get update -qq >/dev/null
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
