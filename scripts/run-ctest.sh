#!/usr/bin/env bash
# Inside a Wine session: lists the tests first, retrying, since ctest asks every test program for
# its tests under Wine and a program's very first start in a fresh prefix has been seen to fail
# once without output; the listing is kept, so the real run below does not ask again.
# Usage: run-ctest.sh BUILD_DIR [CTEST_ARGS...]
# Prints one summary line at the end, also appended to the file OBX_SUMMARY names when set.
set -uo pipefail
dir=$1; shift
case ${OBX_ARCH:-win64} in
  win32) what="32-bit build (the shipped program, as a WOW64 process)" ;;
  *) what="64-bit build" ;;
esac
for attempt in 1 2 3; do
  ctest --test-dir "$dir" -N >/dev/null 2>&1 && break
  echo "test listing failed (attempt $attempt), retrying" >&2
  sleep 2
done
# Without a selection of its own: the whole suite, each test program's tests in one process.
# A selection (-R StoreTest, -L single, ...) picks tests by their own names, each in its own
# process; one that matches nothing is an error, not a pass.
select=(-L suite)
for arg in "$@"; do
  case $arg in -R|-L|-I|--tests-regex|--label-regex|--tests-information|--tests-from-file)
    select=() ;; esac
done
# One test at a time: the UI tests drive the foreground window and several tests share the
# prefix's real registry and shell folders, so running them side by side makes them flaky.
log=$(mktemp)
failedList=$dir/Testing/Temporary/LastTestsFailed.log
trap 'rm -f "$log"' EXIT
rm -f "$failedList"
# Filled by scripts/wine-test.sh with the processes that outlived their test program.
export OBX_LEFT_RUNNING=$dir/Testing/Temporary/LeftRunning.log
mkdir -p "$(dirname "$OBX_LEFT_RUNNING")"
: >"$OBX_LEFT_RUNNING"
ctest --test-dir "$dir" --output-on-failure --no-tests=error --timeout 300 \
  "${select[@]}" "$@" 2>&1 | tee "$log"
code=${PIPESTATUS[0]}
total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
summary="$what: ${total:-no} tests"
if [ "$code" -ne 0 ] && [ -s "$failedList" ]; then
  # A failed test runs once more: Wine has been seen to end a test program within 10 ms, before
  # its first line of output, while the same test passed alone right after. Such a pass is no
  # plain pass: the summary names every test that needed the second run, and both runs' output
  # stays in the log above.
  first=$(cut -d: -f2- "$failedList" | tr '\n' ' ')
  echo "== $what: running the failed tests once more: $first"
  ctest --test-dir "$dir" --output-on-failure --timeout 300 --rerun-failed \
    "${select[@]}" "$@" 2>&1 | tee "$log"
  code=${PIPESTATUS[0]}
  still=""
  [ "$code" -ne 0 ] && [ -s "$failedList" ] && still=$(cut -d: -f2- "$failedList" | tr '\n' ' ')
  passedOnRerun=""
  for t in $first; do
    case " $still " in *" $t "*) ;; *) passedOnRerun="$passedOnRerun $t" ;; esac
  done
  [ -n "$passedOnRerun" ] && summary="$summary; passed only when run again:$passedOnRerun"
  [ -n "$still" ] && summary="$summary; FAILED: ${still% }"
  [ "$code" -ne 0 ] && [ -z "$still" ] && summary="$summary; FAILED (ctest exit code $code)"
elif [ "$code" -ne 0 ]; then
  summary="$summary; FAILED (ctest exit code $code)"
else
  summary="$summary, all passed"
fi
[ "$code" -eq 0 ] && [ -n "${passedOnRerun:-}" ] && summary="$summary; the rest passed"
if [ -s "$OBX_LEFT_RUNNING" ]; then
  echo "== processes that outlived their test program, holding its output:"
  sed 's/^/   /' "$OBX_LEFT_RUNNING"
  summary="$summary; $(wc -l <"$OBX_LEFT_RUNNING") processes outlived their test (listed above)"
fi
echo "== $summary"
[ -n "${OBX_SUMMARY:-}" ] && echo "$summary" >>"$OBX_SUMMARY"
exit "$code"
