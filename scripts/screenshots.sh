#!/usr/bin/env bash
# Takes the README's pictures of the setup windows from the real program under a virtual display,
# in English and in the right-to-left sample language, into docs/screenshots/*.png; and the setup
# dialog once more in the right-to-left language with a "SIZE" scale added to its language file.
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

# The scale the right-to-left sample gets for the scaled picture: width and height in percent.
scaled_size=125*115

for language in en rtl rtl-scaled; do
  install="$WINEPREFIX/drive_c/Program Files/Ombrix-$language"
  mkdir -p "$install"
  for file in uninstall.exe Ombrix.exe obxext.dll obxext64.dll Ombrix.chm Obx.txt; do
    cp "$out/$file" "$install/"
  done
  only=
  case $language in
    rtl) cp "$out/lang/hebrew/uninstall.lng" "$out/lang/hebrew/obxlng.dll" "$install/" ;;
    rtl-scaled)
      cp "$out/lang/hebrew/obxlng.dll" "$install/"
      # The sample is UTF-16: edited as UTF-8, written back with its byte order mark.
      iconv -f UTF-16 -t UTF-8 "$out/lang/hebrew/uninstall.lng" |
        sed "s/^:DIALOG SETUPDLG\r\$/&\nSIZE                           \"$scaled_size\"\r/" |
        iconv -f UTF-8 -t UTF-16 >"$install/uninstall.lng"
      only=setup ;;
  esac
  "$WINE" "$out/obxshots.exe" "C:\\Program Files\\Ombrix-$language" 'C:\ObxShots' "$language-" $only \
    </dev/null >/dev/null 2>&1 || { echo "screenshots ($language) failed: $?" >&2; exit 1; }
done

for bitmap in "$bitmaps"/*.bmp; do
  name=$(basename "${bitmap%.bmp}")
  convert "$bitmap" "$shots/$name.png"
  echo "docs/screenshots/$name.png"
done
