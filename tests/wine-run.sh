#!/usr/bin/env bash
# Runs a Windows test program under Wine for ctest: wine-run.sh <exe> [args].
#
# Its output goes through a file, not ctest's pipe: a Wine helper the program
# starts on the way (explorer.exe for the first window, say) inherits the
# program's output and lives on; on a pipe, ctest then waits for it until
# the test times out, though the test has long passed.
#
# Wine starts a program through start.exe, and under load its process
# creation fails now and then with ERROR_INTERNAL_ERROR before the program has
# run at all ("ShellExecuteEx failed: Internal error"). Such a start is made
# once more: that is Wine failing, never the test, and the note says so in
# the test's output.
set -uo pipefail
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for attempt in 1 2 3; do
    status=0
    wine "$@" </dev/null >"$out" 2>&1 || status=$?
    # Said by start.exe alone, when the program never started.
    if [ "$status" -ne 0 ] && [ "$attempt" -lt 3 ] &&
        grep -q "^Application could not be started, or no application associated with the specified file" "$out"; then
        echo "wine-run.sh: Wine could not start $1 ($(grep ShellExecuteEx "$out")); starting it again" >&2
        sleep 1
        continue
    fi
    break
done
cat "$out"
exit "$status"
