#!/usr/bin/env bash
# The main job on the built-in sample installation: sets up what is missing, builds, and runs
# the real uninstall.exe from a sandbox installation folder in a throw-away Wine prefix, the way
# the installer and the installed-programs panel start it, and reports what it did.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${OBX_IN_XVFB:-}" ]; then
  "$root/scripts/bootstrap.sh"
  "$root/scripts/build.sh"
  exec "$root/scripts/wine-session.sh" "$0" "$@"
fi

out=${OBX_BUILD:-$root/build}
install_dir="$WINEPREFIX/drive_c/Program Files/Ombrix"
mkdir -p "$install_dir"
cp "$out/win64/uninstall.exe" "$install_dir/"
cd "$install_dir"

run() {  # run LABEL ARGS...: starts the program, prints its exit code and run time
  local label=$1; shift
  local start end code=0
  start=$(date +%s%N)
  "$WINE" 'C:\Program Files\Ombrix\uninstall.exe' "$@" </dev/null >/dev/null 2>&1 || code=$?
  end=$(date +%s%N)
  printf '  %-44s exit code %d, %5d ms\n' "$label" "$code" $(( (end - start) / 1000000 ))
}

echo "Ombrix setup and uninstall helper: sample run"
echo "  program: C:\\Program Files\\Ombrix\\uninstall.exe (x86_64 build)"
echo
echo "Switch handling:"
run 'uninstall.exe /S /wait (pause of 2 s)' /S /wait
run 'uninstall.exe /Sx (unknown switch: no work)' /Sx
run 'uninstall.exe /noexplorer' /noexplorer
echo
echo "Installer variables (only the silent switch counts in sfxcmd):"
sfxcmd='/wait /setup' run 'sfxcmd="/wait /setup", uninstall.exe /Sx' /Sx
package="$WINEPREFIX/drive_c/ObxPackage"
mkdir -p "$package"
printf '[Setup]\r\n' >"$package/ombrix.ini"
sfxcmd=/S sfxname='C:\ObxPackage\ombrix-setup.exe' \
  run 'sfxcmd=/S, uninstall.exe /setup /msi' /setup /msi
[ -f "$install_dir/ombrix.ini" ] &&
  echo "  The package's preset ombrix.ini was taken over into the installation folder."
echo
echo "Setup and uninstallation of the sample installation:"
for f in Ombrix.exe obxext.dll obxext64.dll Ombrix.chm Obx.txt; do cp "$out/win64/$f" "$install_dir/"; done
printf '%s\r\n' uninstall.exe Ombrix.exe obxext.dll obxext64.dll Ombrix.chm Obx.txt \
  obxnew.dat zipnew.dat ombrix.ini Uninstall.lst >"$install_dir/Uninstall.lst"
listed() { "$WINE" uninstaller --list </dev/null 2>/dev/null | tr -d '\r' | grep '|||Ombrix' || echo "(not listed)"; }
run 'uninstall.exe /setup /S /initA01D1 (silent setup)' /setup /S /initA01D1
assoc() { "$WINE" reg query "HKCR\\$1" /ve </dev/null 2>/dev/null | tr -d '\r' | awk -F'REG_SZ' 'NF > 1 {sub(/^[ \t]+/, "", $2); print $2}' | grep . || echo "(none)"; }
echo "  Preset A01 D1 (.obx off, .zip on, desktop shortcut): .obx -> $(assoc .obx), .zip -> $(assoc .zip)," \
  "$(ls "$WINEPREFIX"/drive_c/users/*/Desktop/Ombrix.lnk >/dev/null 2>&1 && echo "shortcut on the desktop" || echo "no desktop shortcut")"
echo "  Wine's installed programs: $(listed)"
cd /
run 'uninstall.exe /S (silent uninstallation)' /S
for _ in $(seq 1 50); do [ -d "$install_dir" ] || break; sleep 0.2; done
echo "  Wine's installed programs: $(listed)"
if [ -d "$install_dir" ]; then
  echo "  The installation folder is still there, holding: $(ls "$install_dir" | tr '\n' ' ')"
else
  echo "  The installation folder is gone: cmd.exe ran the batch file that removed it."
fi
