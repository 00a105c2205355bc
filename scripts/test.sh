#!/usr/bin/env bash
# Installs what is missing, builds and runs every test; then the Windows
# build with its tests under Wine (scripts/build-windows.sh), the tests again
# under ASan and UBSan (build-asan) and a short run of each fuzzer (build-fuzz).
# FUZZ_SECONDS sets how long each fuzzer runs (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
# One locale for every stage, whatever the caller's (a bare root login has
# none): the tests that need German settings set them themselves.
export LC_ALL=C.UTF-8
unset LANGUAGE
scripts/setup.sh
scripts/build.sh
build_seconds=$SECONDS

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
jobs=$(nproc)
passed=0
failed=0
summary=("$(printf '%-24s %-6s %4ds' "setup and build" ok "$build_seconds")")

# Adds a ctest log's "... N tests failed out of M" to the totals; a stage
# without that line (it broke before testing) counts as one failure.
count_ctest() {
    local line
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1 || true)
    if [ -z "$line" ]; then
        failed=$((failed + 1))
        return
    fi
    local bad total
    bad=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
}

# stage NAME SECONDS_STARTED STATUS
stage() {
    summary+=("$(printf '%-24s %-6s %4ds' "$1" "$([ "$3" -eq 0 ] && echo ok || echo FAILED)" $((SECONDS - $2)))")
}

echo "== ctest (build)"
t0=$SECONDS
status=0
ctest --test-dir build --output-on-failure -j"$jobs" 2>&1 | tee "$work/ctest.log" || status=$?
count_ctest "$work/ctest.log"
stage "ctest build" "$t0" "$status"

echo "== windows: mingw-w64 build and ctest under Wine (scripts/build-windows.sh)"
t0=$SECONDS
status=0
scripts/build-windows.sh || status=$?
before=$failed
for log in build-win-logs/build-win64-ctest.log build-win-logs/build-win32-ctest.log; do
    [ -f "$log" ] && count_ctest "$log"
done
# A build or import check that failed before any test did counts once.
if [ "$status" -ne 0 ] && [ "$failed" -eq "$before" ]; then failed=$((failed + 1)); fi
stage "windows" "$t0" "$status"

echo "== ASan+UBSan build and ctest (build-asan, without e2e)"
t0=$SECONDS
status=0
# LeakSanitizer stays on: the Qt tests run on the offscreen platform, which
# showed no leaks from Qt or fontconfig. Test discovery runs the test programs
# at build time, so the options hold for the build too.
export ASAN_OPTIONS=detect_leaks=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
if cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJOR_SANITIZE=ON >"$work/asan-build.log" 2>&1 &&
    cmake --build build-asan -j"$jobs" >>"$work/asan-build.log" 2>&1; then
    ctest --test-dir build-asan -LE e2e --output-on-failure -j"$jobs" >"$work/asan-ctest.log" 2>&1 || status=$?
    # The passing tests' lines add nothing here: summary, or everything on failure.
    if [ "$status" -eq 0 ]; then
        grep -E '^[0-9]+% tests passed' "$work/asan-ctest.log"
    else
        cat "$work/asan-ctest.log"
    fi
    count_ctest "$work/asan-ctest.log"
else
    status=1
    tail -n 60 "$work/asan-build.log"
    echo "ASan build failed"
    failed=$((failed + 1))
fi
unset ASAN_OPTIONS UBSAN_OPTIONS
stage "ctest build-asan" "$t0" "$status"

echo "== fuzz build (build-fuzz, clang)"
t0=$SECONDS
fuzzers=(fuzz_extract_payload fuzz_ini_reader fuzz_log_line fuzz_gunzip fuzz_dicom_reader)
status=0
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJOR_FUZZ=ON \
    >"$work/fuzz-build.log" 2>&1 &&
    cmake --build build-fuzz -j"$jobs" --target "${fuzzers[@]}" >>"$work/fuzz-build.log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
    tail -n 60 "$work/fuzz-build.log"
    echo "fuzz build failed"
    failed=$((failed + ${#fuzzers[@]}))
fi
stage "fuzz build" "$t0" "$status"

if [ "$status" -eq 0 ]; then
    for fuzzer in "${fuzzers[@]}"; do
        echo "== $fuzzer, ${FUZZ_SECONDS:-60}s"
        t0=$SECONDS
        status=0
        # New inputs go to a scratch copy: the seeds in the repository stay as they are.
        scratch="$work/$fuzzer"
        mkdir -p "$scratch/corpus" "$scratch/findings"
        cp tests/fuzz/corpus/"$fuzzer"/* "$scratch/corpus/"
        build-fuzz/tests/fuzz/"$fuzzer" -max_total_time="${FUZZ_SECONDS:-60}" -timeout=10 \
            -dict=tests/fuzz/"$fuzzer".dict -artifact_prefix="$scratch/findings/" "$scratch/corpus" \
            >"$scratch/log" 2>&1 || status=$?
        # A crash, leak, timeout or OOM input also fails the run if the exit code hid it.
        if [ "$status" -eq 0 ] && [ -n "$(ls -A "$scratch/findings")" ]; then status=1; fi
        if [ "$status" -eq 0 ]; then
            grep -E '^#[0-9]+[[:space:]]+DONE' "$scratch/log" || tail -n 1 "$scratch/log"
            passed=$((passed + 1))
        else
            tail -n 80 "$scratch/log"
            mkdir -p build-fuzz/findings/"$fuzzer"
            cp "$scratch"/findings/* build-fuzz/findings/"$fuzzer"/ 2>/dev/null || true
            echo "$fuzzer failed; inputs kept in build-fuzz/findings/$fuzzer (replay: build-fuzz/tests/fuzz/$fuzzer <file>)"
            failed=$((failed + 1))
        fi
        stage "$fuzzer" "$t0" "$status"
    done
fi

echo "== summary"
printf '%s\n' "${summary[@]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
