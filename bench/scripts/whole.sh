#!/usr/bin/env bash
# Whole-program figures of one build under Wine (OBX_ARCH of the session: win64, or win32, the
# shipped program as a WOW64 process), each beside baselines measured in the
# same rounds (whole processes, interleaved, medians of the per-round ratios): start-up to the
# setup dialog and a silent setup against importing the same registry values with `reg import`
# and against the platform's floor (an empty dialog program; a program that only saves the same
# shortcuts); silent uninstallations (the sample and 10,000 files) against deleting the same
# tree with `cmd /c rd /s /q`; peak working sets; the size of the shipped 32-bit program.
# Runs inside the Wine session of scripts/bench.sh, and only with the session's idle helper
# running: without it Wine's desktop starts and stops around every program and inflates every
# figure. The launcher and the floor programs are of the same build as the program.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${OBX_BUILD:-$root/build}
arch=${OBX_ARCH:-win64}
launcher="$out/$arch/bench_whole.exe"
shipped="$out/win32/uninstall.exe"
runs=${OBX_BENCH_RUNS:-5}
preset='/initA111111111111111111D1M1P1S1C1I1'
# The same without any shortcut: the difference is setup's shortcut phase.
preset_noshort='/initA111111111111111111D0M0P0S1C1I1'
floor_dialog="$out/$arch/floor_dialog.exe"
floor_links="$out/$arch/floor_shortcuts.exe"

echo "== whole ($arch build$([ "$arch" = win32 ] && echo ', a WOW64 process'))"
for f in "$launcher" "$out/$arch/uninstall.exe" "$floor_dialog" "$floor_links"; do
  [ -f "$f" ] || { echo "not built: $f" >&2; exit 1; }
done
# The idle helper of scripts/wine-session.sh, started just before this script: give it a moment.
idle="$out/$arch/obxidle.exe"
idle_running() {
  local pid
  for pid in $(pgrep -f 'obxidle\.exe' || true); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=${WINEPREFIX:-}" && return 0
  done
  return 1
}
for i in $(seq 1 50); do idle_running && break; sleep 0.2; done
if [ ! -f "$idle" ] || ! idle_running; then
  echo "whole: refusing to run: the idle helper $idle is not running in this Wine session" >&2
  echo "  (build it with scripts/build.sh and run inside scripts/wine-session.sh); without it" >&2
  echo "  Wine's desktop starts and stops around every program and every figure is inflated" >&2
  exit 1
fi
base="$WINEPREFIX/drive_c/ObxBench"
rm -rf "$base"; mkdir -p "$base"
install="$base/Ombrix"; winstall='C:\ObxBench\Ombrix'

# measure FOLDER MODE ARGS...: the launcher's key=value line, started in FOLDER.
measure() {
  local folder=$1; shift
  (cd "$folder" && "$WINE" "$launcher" "$@" </dev/null 2>/dev/null | tr -d '\r')
}
field() { sed -n "s/.*\\b$1=\\([^ ]*\\).*/\\1/p" <<<"$2"; }
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.1f", a / b; else print "-" }'; }
check_exit() {  # check_exit LABEL LINE EXPECTED
  local code; code=$(field exit "$2")
  if [ "$code" != "$3" ]; then echo "  $1: unexpected result: $2" >&2; fi
}

sample_files=(Ombrix.exe obxext.dll obxext64.dll Ombrix.chm Obx.txt)
make_sample() {
  rm -rf "$install"; mkdir -p "$install"
  cp "$out/$arch/uninstall.exe" "$install/"
  for f in "${sample_files[@]}"; do cp "$out/$arch/$f" "$install/"; done
  printf '%s\r\n' uninstall.exe "${sample_files[@]}" obxnew.dat zipnew.dat ombrix.ini \
    Uninstall.lst >"$install/Uninstall.lst"
}
# 100 folders of 100 empty files, listed folders first as the installer writes the list.
make_big() {
  rm -rf "$install"; mkdir -p "$install"
  cp "$out/$arch/uninstall.exe" "$install/"
  { printf 'uninstall.exe\r\n'
    for d in $(seq 0 99); do printf 'data%d\r\n' "$d"; done
    for d in $(seq 0 99); do
      mkdir "$install/data$d"
      (cd "$install/data$d" && touch file{0..99}.dat)
      for f in $(seq 0 99); do printf 'data%d\\file%d.dat\r\n' "$d" "$f"; done
    done
    printf 'Uninstall.lst\r\n'; } >"$install/Uninstall.lst"
}
# Both hives' Software trees as PREFIX-*.reg, as the 64-bit view shows them: the 32-bit view's
# keys are there under Wow6432Node, so a setup's keys in either view are all in the files, and
# `reg import /reg:64` puts each back where it was.
export_registry() {  # export_registry PREFIX
  "$WINE" reg export 'HKLM\Software' "C:\\ObxBench\\$1-lm.reg" /y /reg:64 </dev/null >/dev/null 2>&1
  "$WINE" reg export 'HKCU\Software' "C:\\ObxBench\\$1-cu.reg" /y /reg:64 </dev/null >/dev/null 2>&1
}
# Every key and value that setup added or changed, as one file for `reg import`.
registry_difference() {
  python3 - "$base" <<'EOF'
import sys, os
base = sys.argv[1]
def read(path):
    text = open(path, 'rb').read().decode('utf-16')
    keys, key, entry = {}, None, ''
    for line in text.splitlines():
        if entry:
            entry += '\n' + line
        elif line.startswith('[') and line.endswith(']'):
            key = line[1:-1]; keys.setdefault(key, {}); continue
        else:
            entry = line
        if entry.endswith('\\'):
            continue
        if key is not None and entry.strip():
            name = entry.split('=', 1)[0]
            keys[key][name] = entry
        entry = ''
    return keys
lines, values, keys, valued = ['Windows Registry Editor Version 5.00', ''], 0, 0, 0
for hive in ('lm', 'cu'):
    before = read(os.path.join(base, 'before-%s.reg' % hive))
    after = read(os.path.join(base, 'after-%s.reg' % hive))
    for key, entries in after.items():
        old = before.get(key)
        changed = [e for n, e in entries.items() if old is None or old.get(n) != e]
        if old is None or changed:
            lines += ['[%s]' % key] + changed + ['']
            values += len(changed)
            keys += 1
            valued += 1 if changed else 0
open(os.path.join(base, 'setup.reg'), 'wb').write(('\r\n'.join(lines) + '\r\n').encode('utf-16'))
# values, keys created or changed, and those of them that hold new or changed values
print(values, keys, valued)
EOF
}


# Median of the per-round ratios of two arrays named by their arguments.
paired() {
  local -n num=$1 den=$2
  local i out=()
  for i in "${!num[@]}"; do out+=("$(awk -v a="${num[$i]}" -v b="${den[$i]}" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "nan" }')"); done
  median "${out[@]}"
}
# Per-round differences a - b, into the array named by the third argument.
difference() {
  local -n a=$1 b=$2 d=$3
  local i
  for i in "${!a[@]}"; do d+=("$(awk -v x="${a[$i]}" -v y="${b[$i]}" 'BEGIN { printf "%.1f", x - y }')"); done
}
# Per-round sums a + b, into the array named by the third argument.
sum() {
  local -n a=$1 b=$2 d=$3
  local i
  for i in "${!a[@]}"; do d+=("$(awk -v x="${a[$i]}" -v y="${b[$i]}" 'BEGIN { printf "%.1f", x + y }')"); done
}
# A Linux path as the programs under Wine see it: drive C: inside the prefix, Z: elsewhere.
windows_path() {
  case $1 in
    "$WINEPREFIX/drive_c/"*) local p=${1#"$WINEPREFIX/drive_c/"}; printf 'C:\\%s' "${p//\//\\}" ;;
    *) printf 'Z:%s' "${1//\//\\}" ;;
  esac
}

declare -a dialog_ms dialog_peak fdialog_ms fdialog_peak setup_ms setup_peak noshort_ms
declare -a import_ms import_peak links_ms links_peak none_ms
declare -a sample_ms sample_gone sample_peak rd_sample_ms rd_peak
values=0; link_count=0
: >"$base/none.txt"

for i in $(seq 1 "$runs"); do
  make_sample
  # Start-up to a shown dialog, the program and the empty dialog program in turns.
  for who in $( [ $((i % 2)) = 1 ] && echo setup floor || echo floor setup); do
    if [ "$who" = setup ]; then
      line=$(measure "$install" dialog "$winstall\\uninstall.exe" /setup)
      check_exit "setup dialog" "$line" 1
      dialog_ms+=("$(field ms "$line")"); dialog_peak+=("$(field peak_kib "$line")")
    else
      line=$(measure "$base" dialog "$(windows_path "$floor_dialog")")
      check_exit "empty dialog program" "$line" 1
      fdialog_ms+=("$(field ms "$line")"); fdialog_peak+=("$(field peak_kib "$line")")
    fi
  done

  if [ "$i" = 1 ]; then export_registry before; touch "$base/marker"; fi
  line=$(measure "$install" run "$winstall\\uninstall.exe" /setup /S "$preset")
  check_exit "silent setup" "$line" 0
  setup_ms+=("$(field ms "$line")"); setup_peak+=("$(field peak_kib "$line")")
  if [ "$i" = 1 ]; then
    export_registry after; read -r values written_keys valued_keys <<<"$(registry_difference)"
    # The shortcuts setup saved, with their targets, for the program that only saves them.
    mapfile -t link_files < <(find "$WINEPREFIX/drive_c" -name '*.lnk' -newer "$base/marker" | sort)
    link_count=${#link_files[@]}
    wlinks=(); for f in "${link_files[@]}"; do wlinks+=("$(windows_path "$f")"); done
    (cd "$base" && "$WINE" "$floor_links" read "${wlinks[@]}" </dev/null 2>/dev/null) |
      tr -d '\r' >"$base/links.txt"
    [ "$(wc -l <"$base/links.txt")" = "$link_count" ] ||
      echo "  could not read every shortcut setup saved" >&2
  fi

  cp -a "$install" "$base/Copy"
  line=$(measure "$base" run cmd /c rd /s /q 'C:\ObxBench\Copy')
  rd_sample_ms+=("$(field ms "$line")"); rd_peak+=("$(field peak_kib "$line")")
  [ -d "$base/Copy" ] && echo "  rd left the copy behind" >&2

  line=$(measure "$base" run-gone "$winstall" "$winstall\\uninstall.exe" /S)
  check_exit "silent uninstallation" "$line" 0
  sample_ms+=("$(field ms "$line")"); sample_gone+=("$(field gone_ms "$line")")
  sample_peak+=("$(field peak_kib "$line")")

  # Setup without shortcuts; taken back unmeasured.
  make_sample
  line=$(measure "$install" run "$winstall\\uninstall.exe" /setup /S "$preset_noshort")
  check_exit "silent setup without shortcuts" "$line" 0
  noshort_ms+=("$(field ms "$line")")
  measure "$base" run-gone "$winstall" "$winstall\\uninstall.exe" /S >/dev/null

  # The floor of the shortcut phase: the same shortcuts, then the same program saving none.
  line=$(measure "$base" run "$(windows_path "$floor_links")" save 'C:\ObxBench\links.txt')
  check_exit "shortcut program" "$line" 0
  links_ms+=("$(field ms "$line")"); links_peak+=("$(field peak_kib "$line")")
  for f in "${link_files[@]}"; do
    [ -f "$f" ] || echo "  the shortcut program did not save $f" >&2
    rm -f "$f"; rmdir "$(dirname "$f")" 2>/dev/null || true
  done
  line=$(measure "$base" run "$(windows_path "$floor_links")" save 'C:\ObxBench\none.txt')
  check_exit "shortcut program, no shortcuts" "$line" 0
  none_ms+=("$(field ms "$line")")

  line=$(measure "$base" run reg import 'C:\ObxBench\setup.reg' /reg:64)
  check_exit "reg import" "$line" 0
  import_ms+=("$(field ms "$line")"); import_peak+=("$(field peak_kib "$line")")
  if [ "$i" = 1 ]; then
    # The baseline counts only if it really wrote what setup wrote.
    export_registry imported
    missing=$(python3 - "$base" <<'EOF2'
import sys, os
def values(path):
    text = open(path, 'rb').read().decode('utf-16')
    out, key = set(), None
    for line in text.splitlines():
        if line.startswith('[') and line.endswith(']'): key = line
        elif line and key: out.add((key, line))
    return out
base = sys.argv[1]
print(sum(len(values(os.path.join(base, 'after-%s.reg' % h)) -
              values(os.path.join(base, 'imported-%s.reg' % h))) for h in ('lm', 'cu')))
EOF2
)
    [ "$missing" = 0 ] || echo "  reg import did not reproduce $missing lines of setup's registry" >&2
  fi
  # Take the imported values back as an uninstallation would, for the next round.
  make_sample
  measure "$base" run-gone "$winstall" "$winstall\\uninstall.exe" /S >/dev/null
done

# Registry keys a silent setup creates or opens, from a trace of the program's own calls (Wine's
# relay of RegCreateKeyExW and RegOpenKeyExW; every key the program uses is created or opened by
# one of them), against the keys it writes. Only calls returning into the program's own image
# count: the relay also shows those the system's DLLs make while serving the program (the shell
# reads the profile list for each folder it is asked for). Untimed: the trace is slow.
make_sample
relay_key='HKCU\Software\Wine\Debug'
"$WINE" reg add "$relay_key" /v RelayInclude /d 'RegCreateKeyExW;RegOpenKeyExW' /f </dev/null >/dev/null 2>&1
"$WINE" reg add "$relay_key" /v RelayFromInclude /d uninstall.exe /f </dev/null >/dev/null 2>&1
(cd "$install" && WINEDEBUG=+relay,+loaddll "$WINE" "$winstall\\uninstall.exe" /setup /S "$preset" \
  </dev/null >/dev/null 2>"$base/relay.txt") || echo "  traced silent setup failed" >&2
"$WINE" reg delete "$relay_key" /v RelayInclude /f </dev/null >/dev/null 2>&1
"$WINE" reg delete "$relay_key" /v RelayFromInclude /f </dev/null >/dev/null 2>&1
read -r key_creations key_opens <<<"$(python3 - "$base/relay.txt" "$install/uninstall.exe" <<'EOF3'
import re, struct, sys
trace, program = sys.argv[1], sys.argv[2]
data = open(program, 'rb').read()
pe = struct.unpack_from('<I', data, 0x3c)[0]
image_size = struct.unpack_from('<I', data, pe + 24 + 56)[0]  # SizeOfImage, same offset in PE32 and PE32+
base = None
counts = {'Create': 0, 'Open': 0}
for line in open(trace, errors='replace'):
    m = re.search(r'Loaded L"[^"]*\\\\uninstall\.exe" at ([0-9A-Fa-f]+)', line)
    if m: base = int(m.group(1), 16); continue
    m = re.search(r'Call advapi32\.Reg(Create|Open)KeyExW\(.*\) ret=([0-9a-f]+)', line)
    if m and base is not None and base <= int(m.group(2), 16) < base + image_size:
        counts[m.group(1)] += 1
print(counts['Create'] if base is not None else 0, counts['Open'] if base is not None else 0)
EOF3
)"
measure "$base" run-gone "$winstall" "$winstall\\uninstall.exe" /S >/dev/null

declare -a big_ms big_gone big_peak rd_big_ms rd_big_peak
for i in $(seq 1 "$runs"); do
  make_big
  cp -a "$install" "$base/Copy"
  line=$(measure "$base" run cmd /c rd /s /q 'C:\ObxBench\Copy')
  rd_big_ms+=("$(field ms "$line")"); rd_big_peak+=("$(field peak_kib "$line")")
  [ -d "$base/Copy" ] && echo "  rd left the copy behind" >&2
  line=$(measure "$base" run-gone "$winstall" "$winstall\\uninstall.exe" /S)
  check_exit "silent uninstallation of 10,000 files" "$line" 0
  big_ms+=("$(field ms "$line")"); big_gone+=("$(field gone_ms "$line")")
  big_peak+=("$(field peak_kib "$line")")
  [ -d "$install" ] && echo "  the 10,000-file installation was not removed" >&2
done
rm -rf "$base"

declare -a phase_ms floor_phase_ms setup_floor_ms
difference setup_ms noshort_ms phase_ms
difference links_ms none_ms floor_phase_ms
sum import_ms floor_phase_ms setup_floor_ms

m() { median "$@"; }
r() { printf '%.1f' "$(paired "$1" "$2")"; }
# The same to two places, for the goals: a ratio rounded up to a limit has not met it.
r2() { printf '%.2f' "$(paired "$1" "$2")"; }
echo "whole processes, $runs interleaved rounds: medians, and medians of the per-round ratios;"
echo "setup wrote $values registry values and $link_count shortcuts"
echo
echo "| measurement | uninstall.exe | \`reg import\` / \`rd /s /q\` | ratio | floor | floor time | ratio |"
echo "|---|---|---|---|---|---|---|"
printf '| start-up to the setup dialog | %s ms | %s ms | %s | empty dialog program, to its dialog | %s ms | %s |\n' \
  "$(m "${dialog_ms[@]}")" "$(m "${import_ms[@]}")" "$(r dialog_ms import_ms)" \
  "$(m "${fdialog_ms[@]}")" "$(r dialog_ms fdialog_ms)"
printf '| silent setup (`/setup /S /init…`) | %s ms | %s ms | %s | `reg import` + saving the shortcuts | %s ms | %s |\n' \
  "$(m "${setup_ms[@]}")" "$(m "${import_ms[@]}")" "$(r setup_ms import_ms)" \
  "$(m "${setup_floor_ms[@]}")" "$(r setup_ms setup_floor_ms)"
printf '| shortcut phase of silent setup (with − without shortcuts) | %s ms | – | – | shortcut program: %s shortcuts − none | %s ms | %s |\n' \
  "$(m "${phase_ms[@]}")" "$link_count" "$(m "${floor_phase_ms[@]}")" "$(r phase_ms floor_phase_ms)"
printf '| silent uninstallation, sample (7 files) | %s ms (folder gone at %s ms) | %s ms | %s | – | – | – |\n' \
  "$(m "${sample_ms[@]}")" "$(m "${sample_gone[@]}")" "$(m "${rd_sample_ms[@]}")" "$(r sample_ms rd_sample_ms)"
printf '| silent uninstallation, 10,000 files | %s ms (folder gone at %s ms) | %s ms | %s | – | – | – |\n' \
  "$(m "${big_ms[@]}")" "$(m "${big_gone[@]}")" "$(m "${rd_big_ms[@]}")" "$(r big_ms rd_big_ms)"
echo
echo "| peak working set | uninstall.exe | reg.exe / cmd.exe | ratio | floor program | floor | ratio |"
echo "|---|---|---|---|---|---|---|"
kib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }
printf '| setup dialog | %s | %s | %s | empty dialog program | %s | %s |\n' \
  "$(kib "$(m "${dialog_peak[@]}")")" "$(kib "$(m "${import_peak[@]}")")" "$(r dialog_peak import_peak)" \
  "$(kib "$(m "${fdialog_peak[@]}")")" "$(r dialog_peak fdialog_peak)"
printf '| silent setup | %s | %s | %s | shortcut program | %s | %s |\n' \
  "$(kib "$(m "${setup_peak[@]}")")" "$(kib "$(m "${import_peak[@]}")")" "$(r setup_peak import_peak)" \
  "$(kib "$(m "${links_peak[@]}")")" "$(r setup_peak links_peak)"
printf '| uninstallation, sample | %s | %s | %s | – | – | – |\n' \
  "$(kib "$(m "${sample_peak[@]}")")" "$(kib "$(m "${rd_peak[@]}")")" "$(r sample_peak rd_peak)"
printf '| uninstallation, 10,000 files | %s | %s | %s | – | – | – |\n' \
  "$(kib "$(m "${big_peak[@]}")")" "$(kib "$(m "${rd_big_peak[@]}")")" "$(r big_peak rd_big_peak)"
echo
goal() {  # goal TEXT VALUE LIMIT
  local met; met=$(awk -v v="$2" -v l="$3" 'BEGIN { print (v <= l) ? "met" : "not met" }')
  printf -- '- %s: %s (goal at most %s): %s\n' "$1" "$2" "$3" "$met"
}
goal "silent setup / \`reg import\`" "$(r2 setup_ms import_ms)" 2.0
goal "start-up to the setup dialog / empty dialog program" "$(r2 dialog_ms fdialog_ms)" 1.3
goal "peak working set of a silent setup, MiB" "$(awk -v k="$(m "${setup_peak[@]}")" 'BEGIN { printf "%.1f", k / 1024 }')" 20
goal "peak working set of a silent uninstallation (10,000 files), MiB" "$(awk -v k="$(m "${big_peak[@]}")" 'BEGIN { printf "%.1f", k / 1024 }')" 20
echo
printf 'registry keys of a silent setup (traced): %s creations and %s opens for %s keys written ' \
  "$key_creations" "$key_opens" "$written_keys"
printf '(created or changed; %s of them hold new or changed values)\n' "$valued_keys"
ratio2() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
goal "key creations and opens / keys written" "$(ratio2 $((key_creations + key_opens)) "$written_keys")" 1.3
goal "key creations and opens / keys holding new or changed values" \
  "$(ratio2 $((key_creations + key_opens)) "$valued_keys")" 1.3
echo
size=$(stat -c %s "$shipped")
reg32="$WINEPREFIX/drive_c/windows/syswow64/reg.exe"
[ -f "$reg32" ] || reg32="$WINEPREFIX/drive_c/windows/system32/reg.exe"
regsize=$(stat -c %s "$reg32")
printf 'shipped 32-bit uninstall.exe: %s bytes (%s KiB, limit 200 KiB); Wine'"'"'s own 32-bit reg.exe: %s bytes\n' \
  "$size" "$((size / 1024))" "$regsize"
