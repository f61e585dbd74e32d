#!/usr/bin/env bash
# Takes the README's pictures of the setup windows from the real program under a virtual display,
# in English and in the right-to-left sample language, into docs/screenshots/*.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${OBX_IN_XVFB:-}" ]; then
  "$root/scripts/bootstrap.sh"
  "$root/scripts/build.sh"
  exec "$root/scripts/wine-session.sh" "$0" "$@"
fi

out=${OBX_BUILD:-$root/build}/win64
shots=$root/docs/screenshots
bitmaps=$WINEPREFIX/drive_c/ObxShots
mkdir -p "$shots" "$bitmaps"

for language in en rtl; do
  install="$WINEPREFIX/drive_c/Program Files/Ombrix-$language"
  mkdir -p "$install"
  for file in uninstall.exe Ombrix.exe obxext.dll obxext64.dll Ombrix.chm Obx.txt; do
    cp "$out/$file" "$install/"
  done
  if [ "$language" = rtl ]; then
    cp "$out/lang/hebrew/uninstall.lng" "$out/lang/hebrew/obxlng.dll" "$install/"
  fi
  "$WINE" "$out/obxshots.exe" "C:\\Program Files\\Ombrix-$language" 'C:\ObxShots' "$language-" \
    </dev/null >/dev/null 2>&1 || { echo "screenshots ($language) failed: $?" >&2; exit 1; }
done

for bitmap in "$bitmaps"/*.bmp; do
  name=$(basename "${bitmap%.bmp}")
  convert "$bitmap" "$shots/$name.png"
  echo "docs/screenshots/$name.png"
done
