#!/usr/bin/env bash
# ctest's emulator for the test programs: runs LOADER PROGRAM [ARGS...] and passes its output on
# as it comes, yet ends as soon as the program has ended. Every Wine process inherits the Unix
# standard error of the process that started it, so a process a test leaves running (a command
# interpreter or console host of a killed run, a program a test started) would otherwise hold
# ctest's output pipe open, and ctest waits for that pipe until the test's timeout. Here the
# program writes into files, which such a process may keep open without stopping anyone.
set -u
out=$(mktemp /tmp/obxtest.XXXXXX)
err=$(mktemp /tmp/obxtest.XXXXXX)
trap 'rm -f "$out" "$err"' EXIT
"$@" </dev/null >"$out" 2>"$err" &
program=$!
# Each tail ends once the program has ended and it has passed on what was written until then.
tail -n +1 -s 0.1 -f --pid="$program" "$out" &
tailOut=$!
tail -n +1 -s 0.1 -f --pid="$program" "$err" >&2 &
tailErr=$!
wait "$program"
code=$?
wait "$tailOut" "$tailErr"
# Processes that outlived the program and still hold its output: the ones that would have held
# ctest up. Named in the log OBX_LEFT_RUNNING names, for the summary.
if [ -n "${OBX_LEFT_RUNNING:-}" ]; then
  for pid in $(find /proc/[0-9]*/fd \( -lname "$out" -o -lname "$err" \) 2>/dev/null |
               cut -d/ -f3 | sort -u); do
    name=$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | sed 's/ *$//')
    echo "$(basename -- "${2:-?}") ${*:3}: ${name:-process $pid}" >>"$OBX_LEFT_RUNNING"
  done
fi
exit "$code"
