#!/usr/bin/env bash
# Whole-program figures of the x86_64 build under Wine, each beside a baseline measured in the
# same run: start-up to the setup dialog and a silent setup against importing the same registry
# values with `reg import`; silent uninstallations (the sample and 10,000 files) against
# deleting the same tree with `cmd /c rd /s /q`; peak working sets; the size of the shipped
# 32-bit program. Runs inside the Wine session of scripts/bench.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${OBX_BUILD:-$root/build}
launcher="$out/win64/bench_whole.exe"
shipped="$out/win32/uninstall.exe"
runs=${OBX_BENCH_RUNS:-3}
preset='/initA111111111111111111D1M1P1S1C1I1'

echo "== whole"
if [ ! -f "$launcher" ] || [ ! -f "$out/win64/uninstall.exe" ]; then
  echo "not built: $launcher"; exit 1
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
  cp "$out/win64/uninstall.exe" "$install/"
  for f in "${sample_files[@]}"; do cp "$out/win64/$f" "$install/"; done
  printf '%s\r\n' uninstall.exe "${sample_files[@]}" obxnew.dat zipnew.dat ombrix.ini \
    Uninstall.lst >"$install/Uninstall.lst"
}
# 100 folders of 100 empty files, listed folders first as the installer writes the list.
make_big() {
  rm -rf "$install"; mkdir -p "$install"
  cp "$out/win64/uninstall.exe" "$install/"
  { printf 'uninstall.exe\r\n'
    for d in $(seq 0 99); do printf 'data%d\r\n' "$d"; done
    for d in $(seq 0 99); do
      mkdir "$install/data$d"
      (cd "$install/data$d" && touch file{0..99}.dat)
      for f in $(seq 0 99); do printf 'data%d\\file%d.dat\r\n' "$d" "$f"; done
    done
    printf 'Uninstall.lst\r\n'; } >"$install/Uninstall.lst"
}
export_registry() {  # export_registry PREFIX: both hives' Software trees as PREFIX-*.reg
  "$WINE" reg export 'HKLM\Software' "C:\\ObxBench\\$1-lm.reg" /y </dev/null >/dev/null 2>&1
  "$WINE" reg export 'HKCU\Software' "C:\\ObxBench\\$1-cu.reg" /y </dev/null >/dev/null 2>&1
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
lines, values = ['Windows Registry Editor Version 5.00', ''], 0
for hive in ('lm', 'cu'):
    before = read(os.path.join(base, 'before-%s.reg' % hive))
    after = read(os.path.join(base, 'after-%s.reg' % hive))
    for key, entries in after.items():
        old = before.get(key)
        changed = [e for n, e in entries.items() if old is None or old.get(n) != e]
        if old is None or changed:
            lines += ['[%s]' % key] + changed + ['']
            values += len(changed)
open(os.path.join(base, 'setup.reg'), 'wb').write(('\r\n'.join(lines) + '\r\n').encode('utf-16'))
print(values)
EOF
}

declare -a dialog_ms dialog_peak setup_ms setup_peak import_ms import_peak
declare -a sample_ms sample_gone sample_peak rd_sample_ms rd_peak

make_sample
for i in $(seq 1 $((runs + 2))); do
  line=$(measure "$install" dialog "$winstall\\uninstall.exe" /setup)
  check_exit "setup dialog" "$line" 1
  dialog_ms+=("$(field ms "$line")"); dialog_peak+=("$(field peak_kib "$line")")
done

export_registry before
values=0
for i in $(seq 1 "$runs"); do
  make_sample
  line=$(measure "$install" run "$winstall\\uninstall.exe" /setup /S "$preset")
  check_exit "silent setup" "$line" 0
  setup_ms+=("$(field ms "$line")"); setup_peak+=("$(field peak_kib "$line")")
  if [ "$i" = 1 ]; then export_registry after; values=$(registry_difference); fi

  cp -a "$install" "$base/Copy"
  line=$(measure "$base" run cmd /c rd /s /q 'C:\ObxBench\Copy')
  rd_sample_ms+=("$(field ms "$line")"); rd_peak+=("$(field peak_kib "$line")")
  [ -d "$base/Copy" ] && echo "  rd left the copy behind" >&2

  line=$(measure "$base" run-gone "$winstall" "$winstall\\uninstall.exe" /S)
  check_exit "silent uninstallation" "$line" 0
  sample_ms+=("$(field ms "$line")"); sample_gone+=("$(field gone_ms "$line")")
  sample_peak+=("$(field peak_kib "$line")")

  line=$(measure "$base" run reg import 'C:\ObxBench\setup.reg')
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

m() { median "$@"; }
imp=$(m "${import_ms[@]}"); rds=$(m "${rd_sample_ms[@]}"); rdb=$(m "${rd_big_ms[@]}")
echo "median of $runs runs (the dialog: $((runs + 2))); setup wrote $values registry values"
echo
echo "| measurement | uninstall.exe | baseline | baseline time | ratio |"
echo "|---|---|---|---|---|"
printf '| start-up to the setup dialog | %s ms | `reg import` of the same values | %s ms | %s |\n' \
  "$(m "${dialog_ms[@]}")" "$imp" "$(ratio "$(m "${dialog_ms[@]}")" "$imp")"
printf '| silent setup (`/setup /S /init`) | %s ms | `reg import` of the same values | %s ms | %s |\n' \
  "$(m "${setup_ms[@]}")" "$imp" "$(ratio "$(m "${setup_ms[@]}")" "$imp")"
printf '| silent uninstallation, sample | %s ms (folder gone at %s ms) | `cmd /c rd /s /q` | %s ms | %s |\n' \
  "$(m "${sample_ms[@]}")" "$(m "${sample_gone[@]}")" "$rds" "$(ratio "$(m "${sample_ms[@]}")" "$rds")"
printf '| silent uninstallation, 10,000 files | %s ms (folder gone at %s ms) | `cmd /c rd /s /q` | %s ms | %s |\n' \
  "$(m "${big_ms[@]}")" "$(m "${big_gone[@]}")" "$rdb" "$(ratio "$(m "${big_ms[@]}")" "$rdb")"
echo
echo "| peak working set | uninstall.exe | baseline | baseline | ratio |"
echo "|---|---|---|---|---|"
rp=$(m "${import_peak[@]}"); cp_=$(m "${rd_big_peak[@]}")
for row in "setup dialog:dialog_peak:reg.exe:$rp" "silent setup:setup_peak:reg.exe:$rp" \
           "uninstallation, sample:sample_peak:cmd.exe:$(m "${rd_peak[@]}")" \
           "uninstallation, 10,000 files:big_peak:cmd.exe:$cp_"; do
  IFS=: read -r label var who basev <<<"$row"
  declare -n values_ref=$var
  v=$(m "${values_ref[@]}")
  printf '| %s | %s KiB | %s | %s KiB | %s |\n' "$label" "$v" "$who" "$basev" "$(ratio "$v" "$basev")"
  unset -n values_ref
done
echo
size=$(stat -c %s "$shipped")
reg32="$WINEPREFIX/drive_c/windows/syswow64/reg.exe"
[ -f "$reg32" ] || reg32="$WINEPREFIX/drive_c/windows/system32/reg.exe"
regsize=$(stat -c %s "$reg32")
printf 'shipped 32-bit uninstall.exe: %s bytes (%s KiB); Wine'"'"'s own 32-bit reg.exe: %s bytes; ratio %s\n' \
  "$size" "$((size / 1024))" "$regsize" "$(ratio "$size" "$regsize")"
