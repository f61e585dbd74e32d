#!/usr/bin/env bash
# Runs a command inside a fresh, throw-away Wine prefix under a virtual display, then stops that
# prefix's processes and deletes it. Usage: wine-session.sh COMMAND [ARGS...]
# OBX_ARCH picks the build the session is for: win64 (the default) or win32, the shipped program,
# which runs as a 32-bit program on 64-bit Windows does (WOW64). Either way the prefix is a 64-bit
# one, made by the 64-bit loader; with Debian's 32-bit Wine beside it, it also holds the 32-bit
# system (syswow64, the registry's Wow6432Node). Inside, WINE (the loader for OBX_ARCH's
# programs), WINEPREFIX, DISPLAY, HOME and OBX_ARCH are set.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# A virtual display unless the caller asks for the real one (OBX_USE_DISPLAY with DISPLAY set).
if [ -z "${OBX_IN_XVFB:-}" ]; then
  export OBX_IN_XVFB=1
  if [ -z "${OBX_USE_DISPLAY:-}" ] || [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
  fi
fi

export OBX_ARCH=${OBX_ARCH:-win64}
case $OBX_ARCH in
  win64) export WINE=/usr/lib/wine/wine64 ;;
  win32) export WINE=/usr/lib/wine/wine ;;  # runs PE32+ programs too, by handing them on
  *) echo "wine-session.sh: OBX_ARCH must be win32 or win64, not $OBX_ARCH" >&2; exit 2 ;;
esac
export WINESERVER=/usr/lib/wine/wineserver
export WINEARCH=win64
export WINEDEBUG=-all
# winedbg off: a crashing test program then ends at once instead of waiting in the debugger.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
session=$(mktemp -d /tmp/obxwine.XXXXXX)
export HOME=$session/home
export WINEPREFIX=$session/prefix
mkdir -p "$HOME"

cleanup() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w >/dev/null 2>&1 || true
  rm -rf "$session"
}
trap cleanup EXIT

/usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1
"$WINESERVER" -w
# The user's shell folders link into the real home by default; make them real folders so that
# shortcuts and files the tests create stay inside the prefix.
for link in "$WINEPREFIX"/drive_c/users/*/*; do
  if [ -L "$link" ]; then rm -f "$link"; mkdir -p "$link"; fi
done
# A spare drive whose root tests may install into; its marker file tells them it is theirs.
mkdir -p "$session/rootdrive"
: > "$session/rootdrive/obx-test-drive"
ln -sfn "$session/rootdrive" "$WINEPREFIX/dosdevices/r:"
"$WINE" reg add 'HKCU\Software\Wine' /v Version /d win10 /f </dev/null >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
"$WINESERVER" -w
# One persistent server for the session; background services started here with their output
# away from the caller's pipes, which they would otherwise hold open.
"$WINESERVER" -p
"$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
idle="${OBX_BUILD:-$root/build}/$OBX_ARCH/obxidle.exe"
if [ -f "$idle" ]; then "$WINE" "$idle" </dev/null >/dev/null 2>&1 & fi

"$@"
