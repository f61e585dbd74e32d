#!/usr/bin/env bash
# The main job on the built-in sample installation: sets up what is missing, builds, and runs
# the real uninstall.exe in a throw-away Wine prefix the way an installer and then the
# installed-programs panel start it, and reports what it did and what it left behind. The program
# is the shipped 32-bit one, run as on 64-bit Windows (a WOW64 process), where the kernel runs
# i386 programs and Debian's 32-bit Wine is there; else the 64-bit build. Each registry key listed
# is named with the views that see it: the 32-bit one, the 64-bit one or both.
#
# With --dialogs and a display (DISPLAY set), the setup dialog and the uninstall question are
# shown on that display for a person to click, instead of the silent runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dialogs=""
if [ "${1:-}" = "--dialogs" ]; then
  [ -n "${DISPLAY:-}" ] || { echo "run-sample.sh --dialogs needs a display (DISPLAY is not set)" >&2; exit 2; }
  dialogs=1
  export OBX_USE_DISPLAY=1
fi
if [ -z "${OBX_IN_XVFB:-}" ]; then
  "$root/scripts/bootstrap.sh"
  "$root/scripts/build.sh"
  export OBX_ARCH=win64
  if "$root/scripts/runs-i386.sh" && [ -x /usr/lib/wine/wine ]; then OBX_ARCH=win32; fi
  exec "$root/scripts/wine-session.sh" "$0" "$@"
fi

out=${OBX_BUILD:-$root/build}
drive_c="$WINEPREFIX/drive_c"
install_dir="$drive_c/Program Files/Ombrix"
program='C:\Program Files\Ombrix\uninstall.exe'
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
preset=A01D1

ms_since() { echo $(( ($(date +%s%N) - $1) / 1000000 )); }
w() { "$WINE" "$@" </dev/null 2>/dev/null; }
# The 64-bit reg.exe, whose exports show the 32-bit view's own keys under Wow6432Node, and the
# 32-bit one, which opens keys as the shipped program does.
reg64() { /usr/lib/wine/wine64 reg "$@" </dev/null 2>/dev/null; }
reg32() { [ "$OBX_ARCH" = win32 ] && /usr/lib/wine/wine reg "$@" </dev/null >/dev/null 2>&1; }
# Where the program's own keys of HKLM\Software lie: a WOW64 process's view is Wow6432Node.
if [ "$OBX_ARCH" = win32 ]; then own_lm='HKEY_LOCAL_MACHINE\Software\Wow6432Node'; else own_lm='HKEY_LOCAL_MACHINE\Software'; fi

# start LABEL COMMAND ARGS...: runs a Windows program, prints its exit code and run time.
start() {
  local label=$1; shift
  local begun code=0
  begun=$(date +%s%N)
  "$WINE" "$@" </dev/null >/dev/null 2>&1 || code=$?
  printf '  %-46s exit code %d, %5d ms\n' "$label" "$code" "$(ms_since "$begun")"
}

# The registry parts the product writes to, as UTF-8 text with one "key|value=data" line each.
snapshot_registry() {
  local dest=$1 key i=0
  : >"$dest"
  for key in 'HKCU\Software' 'HKLM\Software' 'HKCR'; do
    i=$((i + 1))
    reg64 export "$key" "Z:$work/export$i.reg" /y >/dev/null
    iconv -f UTF-16LE -t UTF-8 "$work/export$i.reg" | tr -d '\r' | awk '
      /^\[/ { key = substr($0, 2, length($0) - 2); print key "|"; next }
      /^$/ || /^Windows Registry/ { next }
      { print key "|" $0 }' | grep -v -E '^HKEY_LOCAL_MACHINE\\Software\\(Wow6432Node\\)?Classes[\\|]' >>"$dest"
  done
  sort -o "$dest" "$dest"
}

# Every file and folder of drive_c but Wine's own churn (its temp and cache folders and the
# Windows folder, which Wine's services touch on every start).
snapshot_disk() {
  (cd "$drive_c" && find . -mindepth 1 \
    -path ./windows -prune -o -path './users/*/AppData/Local/Temp' -prune -o \
    -path './users/*/Temp' -prune -o -print) | sed 's|^\./||' | sort >"$1"
}

# Key paths on standard input as a program names them (Wow6432Node left out), each once, with the
# registry views in which it opens.
name_views() {
  sed -E 's/\\Wow6432Node(\\|$)/\1/I' | sort -u | while IFS= read -r key; do
    local views=()
    reg32 query "$key" && views+=(32-bit)
    reg64 query "$key" >/dev/null && views+=(64-bit)
    case ${#views[@]} in
      2) echo "$key (both views)" ;;
      1) echo "$key (${views[0]} view)" ;;
      *) echo "$key (in no view)" ;;
    esac
  done
}

# Keys only in the second snapshot, without those whose parent is new as well.
new_keys() {
  comm -13 <(grep '|$' "$1") <(grep '|$' "$2") | sed 's/|$//' | sort | awk '
    { for (i = 1; i <= n; i++) if (index($0, seen[i] "\\") == 1) next; seen[++n] = $0; print }'
}

# reg_value SNAPSHOT KEY NAME: the data of one value ("@" for the default), unquoted.
reg_value() {
  K="$2|" N="$3" awk '
    BEGIN { key = ENVIRON["K"]; name = ENVIRON["N"] }
    index($0, key) == 1 { line = substr($0, length(key) + 1)
      prefix = (name == "@") ? "@=" : "\"" name "\"="
      if (index(line, prefix) == 1) { v = substr(line, length(prefix) + 1); gsub(/^"|"$/, "", v)
        gsub(/\\\\/, "\\", v); gsub(/\\"/, "\"", v); print v; exit } }' "$1"
}

echo "Ombrix setup and uninstall helper: sample run in a throw-away Wine prefix"
if [ "$OBX_ARCH" = win32 ]; then
  echo "  program: $program (the shipped 32-bit build, as on 64-bit Windows: a WOW64 process)"
else
  echo "  program: $program (x86_64 build: no 32-bit Wine here, as this kernel cannot run i386 programs)"
fi
echo

# Another archiver's handlers on .zip and .7z, with a New-menu entry on .zip, so that setup
# has something to save and uninstallation something to restore.
w reg add 'HKCR\.zip' /ve /d OtherArc.zip /f >/dev/null
w reg add 'HKCR\.zip\ShellNew' /v NullFile /d '' /f >/dev/null
w reg add 'HKCR\.7z' /ve /d OtherArc.7z /f >/dev/null
w reg add 'HKCR\OtherArc.zip\shell\open\command' /ve /d '"C:\OtherArc\otherarc.exe" "%1"' /f >/dev/null
w reg add 'HKCR\OtherArc.7z\shell\open\command' /ve /d '"C:\OtherArc\otherarc.exe" "%1"' /f >/dev/null

begun=$(date +%s%N)
snapshot_registry "$work/reg.before"
snapshot_disk "$work/disk.before"
echo "Before setup: another archiver owns .zip (OtherArc.zip, with a New-menu entry) and .7z" \
  "(OtherArc.7z); registry and drive_c recorded ($(ms_since "$begun") ms)."
echo

if [ -n "$dialogs" ]; then
  echo "The installer copies the sample files and starts setup; choose in the dialog and click OK:"
else
  echo "The installer copies the sample files and starts setup silently with a preset:"
fi
mkdir -p "$install_dir"
for f in uninstall.exe Ombrix.exe obxext.dll obxext64.dll Ombrix.chm Obx.txt; do
  cp "$out/$OBX_ARCH/$f" "$install_dir/"
done
printf '%s\r\n' uninstall.exe Ombrix.exe obxext.dll obxext64.dll Ombrix.chm Obx.txt \
  obxnew.dat zipnew.dat Ombrix.ini Uninstall.lst >"$install_dir/Uninstall.lst"
if [ -n "$dialogs" ]; then
  start "uninstall.exe /setup /noexplorer" "$program" /setup /noexplorer
else
  start "uninstall.exe /setup /S /init$preset" "$program" /setup /S "/init$preset"
fi
snapshot_registry "$work/reg.setup"
snapshot_disk "$work/disk.setup"
s="$work/reg.setup"

echo
if [ -n "$dialogs" ]; then
  echo "Associated (as chosen in the dialog; previous handler saved"
else
  echo "Associated (preset $preset: .obx off, .zip on, desktop shortcut on; previous handler saved"
fi
echo "under HKLM\\Software\\Ombrix\\Setup\\<ext>):"
awk -F'|' '$1 ~ /^HKEY_CLASSES_ROOT\\\.[^\\]+$/ && ($2 == "@=\"Ombrix\"" || $2 == "@=\"Ombrix.ZIP\"") {
  sub(/^HKEY_CLASSES_ROOT\\/, "", $1); v = $2; gsub(/^@="|"$/, "", v); print $1 "|" v }' "$s" |
  { volumes=0 fresh=''
    while IFS='|' read -r ext type; do
      if [[ $ext =~ ^\.o[0-9][0-9]$ ]]; then volumes=$((volumes + 1)); continue; fi
      setup_key="$own_lm\\Ombrix\\Setup\\$ext"
      exist=$(reg_value "$s" "$setup_key" Exist); before=$(reg_value "$s" "$setup_key" Type)
      shellnew=$(reg_value "$s" "$setup_key" ShellNew)
      case $exist in
        'dword:00000000') fresh="$fresh $ext"; continue ;;
        'dword:00000001') saved="previous handler saved: ${before:-(empty type)}${shellnew:+, New-menu entry \"$shellnew\"}" ;;
        *) saved="NOTHING SAVED" ;;
      esac
      printf '  %-6s -> %-11s %s\n' "$ext" "$type" "$saved"
    done
    echo "  ${fresh# } -> Ombrix (no key before: saved as such)"
    [ "$volumes" -eq 0 ] || echo "  and $volumes OBX volume extensions .o00... -> Ombrix"; }

echo
echo "Registered and recorded (keys new since before setup, each with what is beneath it, and the"
echo "registry views in which it opens):"
new_keys "$work/reg.before" "$s" | grep -v -E '^HKEY_CLASSES_ROOT\\\.[^\\]+$' | name_views |
  sed 's/^HKEY_CLASSES_ROOT/HKCR/; s/^HKEY_LOCAL_MACHINE/HKLM/; s/^HKEY_CURRENT_USER/HKCU/' |
  awk '{ printf "%s%s", (NR > 1 ? ", " : "  "), $0 } END { print "" }' | fold -s -w 100 | sed '2,$s/^/  /'
rec="$own_lm"'\Microsoft\Windows\CurrentVersion\Uninstall\Ombrix archiver'
uninstall_string=$(reg_value "$s" "$rec" UninstallString)
echo "  installed-programs record: DisplayName \"$(reg_value "$s" "$rec" DisplayName)\"," \
  "UninstallString $uninstall_string"
echo "  Wine's installed programs: $(w uninstaller --list | tr -d '\r' | grep '|||Ombrix' || echo '(not listed)')"

echo
echo "Created on disk:"
comm -13 "$work/disk.before" "$work/disk.setup" | grep -v '^Program Files/Ombrix\(/\(uninstall.exe\|Ombrix.exe\|obxext.dll\|obxext64.dll\|Ombrix.chm\|Obx.txt\|Uninstall.lst\)\)\?$' |
  sed 's/^/  C:\\/; s|/|\\|g'

echo
if [ -n "$dialogs" ]; then
  echo "The installed-programs panel starts the UninstallString; answer its question:"
else
  echo "The installed-programs panel starts the UninstallString (with /S, as nobody is here to click):"
fi
uninstall_cmd=${uninstall_string//\"/}
[ -n "$uninstall_cmd" ] || uninstall_cmd=$program
cd "$drive_c"
if [ -n "$dialogs" ]; then
  start "$uninstall_string" "$uninstall_cmd"
else
  start "$uninstall_string /S" "$uninstall_cmd" /S
fi
# The self-removal batch file runs on for a couple of seconds after the program has ended.
for _ in $(seq 1 100); do
  if [ ! -d "$install_dir" ] && ! ls "$drive_c"/users/*/AppData/Local/Temp/Uninstall_Obx.Bat >/dev/null 2>&1
  then break; fi
  sleep 0.2
done
snapshot_registry "$work/reg.after"
snapshot_disk "$work/disk.after"
a="$work/reg.after"

echo
echo "Removed and restored:"
for ext in .zip .7z; do
  echo "  $ext -> $(reg_value "$a" "HKEY_CLASSES_ROOT\\$ext" @)$(grep -q "^HKEY_CLASSES_ROOT\\\\$ext\\\\ShellNew|" "$a" && echo ' (New-menu entry back)')"
done
echo "  keys gone since setup: $(comm -23 <(grep '|$' "$s") <(grep '|$' "$a") | wc -l);" \
  "files and folders gone: $(comm -23 "$work/disk.setup" "$work/disk.after" | wc -l)" \
  "(the installation folder $( [ -d "$install_dir" ] && echo 'is still there' || echo 'went with the batch file'))"
echo "  Wine's installed programs: $(w uninstaller --list | tr -d '\r' | grep '|||Ombrix' || echo '(not listed)')"

echo
echo "Registry compared with before setup (HKCU\\Software, HKLM\\Software, HKCR; + new, - missing):"
reg_diff=$(diff "$work/reg.before" "$a" | grep '^[<>]' | sed 's/^</  -/; s/^>/  +/' || true)
if [ -z "$reg_diff" ]; then echo "  identical"; else echo "$reg_diff"; fi
# Removal deletes the product's own keys and values one key at a time: parents that other
# programs register under too stay, empty. Anything else is a fault.
unexplained=$(echo "$reg_diff" | grep -v -E '^  \+ [^|]*\\(Drive|shellex|DragDropHandlers|PropertySheetHandlers|ContextMenuHandlers|RegisteredApplications)\|$' | grep . || true)
if [ -n "$reg_diff" ] && [ -z "$unexplained" ]; then
  echo "  Documented leftovers only: empty handler-list parents (Drive\\shellex\\..., exefile\\shellex\\...," \
    "folder\\shellex\\...) and RegisteredApplications, created by the registration and shared with other"
  echo "  programs; uninstallation deletes only the product's own keys and values beneath them."
fi
echo "Disk compared with before setup (drive_c without Wine's windows and temp folders):"
disk_diff=$(diff "$work/disk.before" "$work/disk.after" | grep '^[<>]' | sed 's/^</  -/; s/^>/  +/' || true)
if [ -z "$disk_diff" ]; then echo "  identical"; else echo "$disk_diff"; fi
if [ -z "$unexplained" ] && [ -z "$disk_diff" ]; then
  echo "Everything is back to its state before setup, but for the leftovers named above."
else
  echo "NOT back to the state before setup: see the differences above."; exit 1
fi
