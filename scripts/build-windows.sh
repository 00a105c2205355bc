#!/usr/bin/env bash
# Builds the Windows program folder with mingw-w64, packs it and tests it
# under Wine (the end-to-end runs unzip the packed folder):
#   build-win64/bin -> dist/jor-orvek-windows-x86_64.zip
#   build-win32/bin -> dist/jor-orvek-windows-x86.zip (where the 32-bit
#                      toolchain and wine32 install)
# Installs what is missing from Debian's packages first. Started as root, it
# builds and tests as an ordinary user (jortester, made when missing), as the
# practices run the program: root may write a read-only file, a Windows user
# may not. Options:
#   --no-tests   build and pack only
#   --only-64    leave the 32-bit build out
#   --bench      build, then run bench_windows under Wine (bench/README.md)
#                instead of the tests
# Logs: build-win-logs/. Exit status non-zero when a build, a test or the
# import check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/apt.sh
# Wine maps file names through the locale: UTF-8, whatever the caller's.
export LC_ALL=C.UTF-8
unset LANGUAGE

run_tests=1
run_bench=0
want_32=1
as_tester=0
for arg in "$@"; do
    case "$arg" in
    --no-tests) run_tests=0 ;;
    --only-64) want_32=0 ;;
    --bench) run_bench=1 run_tests=0 ;;
    --as-tester) as_tester=1 ;;  # the second half, started by the first as the tester
    *) echo "usage: $0 [--no-tests] [--only-64] [--bench]" >&2; exit 2 ;;
    esac
done

logs=build-win-logs
tester=jortester
note() { printf '%s\n' "$*"; }

# --- packages (root) ---------------------------------------------------------
install_missing() {
    local missing=()
    for p in "$@"; do installed "$p" || missing+=("$p"); done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        note "missing packages: ${missing[*]}; run this script as root once to install them"
        return 1
    fi
    note "installing: ${missing[*]} (log: $logs/packages.log)"
    { apt_get update -qq && apt_get install -y -qq --no-install-recommends "${missing[@]}"; } >>"$logs/packages.log" 2>&1
}

packages64=(
    cmake ninja-build zip unzip gzip ncompress xvfb xauth xdotool xclip python3
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev googletest
    wine wine64 fonts-wine dcmtk
)
packages32=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine32:i386)

if [ "$as_tester" -eq 0 ]; then
    mkdir -p "$logs" dist
    install_missing "${packages64[@]}"
    if [ "$want_32" -eq 1 ] && [ "$(id -u)" -eq 0 ]; then
        if ! dpkg --print-foreign-architectures | grep -qx i386; then
            dpkg_waiting --add-architecture i386 >>"$logs/packages.log" 2>&1
            apt_get update -qq >>"$logs/packages.log" 2>&1 || true
        fi
        install_missing "${packages32[@]}" ||
            note "WARNING: the 32-bit toolchain or wine32 did not install; building 64-bit only"
    fi

    if [ "$(id -u)" -eq 0 ]; then
        # The ordinary user the builds and tests run as.
        if ! id -u "$tester" >/dev/null 2>&1; then
            useradd --system --create-home --home-dir "/var/lib/$tester" --shell /usr/sbin/nologin "$tester"
        fi
        home=$(getent passwd "$tester" | cut -d: -f6)
        # It must read the checkout; one under /root, say, it cannot: then a
        # copy of the sources is built and tested, and the zips and logs come back.
        if ! runuser -u "$tester" -- test -r "$PWD/CMakeLists.txt" -a -x "$PWD/tests/e2e"; then
            copy=/var/tmp/jor-orvek-windows-sources
            note "$tester cannot read $PWD: building a copy in $copy"
            mkdir -p "$copy"
            find "$copy" -mindepth 1 -maxdepth 1 ! -name 'build-win*' ! -name build-wine ! -name dist -exec rm -rf {} +
            tar -C "$PWD" --exclude=./.git --exclude='./build*' --exclude=./dist -cf - . | tar -C "$copy" -xf -
            status=0
            "$copy/scripts/build-windows.sh" "$@" || status=$?
            rm -rf "$logs"
            cp -r "$copy/$logs" "$logs"
            cp "$copy"/dist/jor-orvek-windows-*.zip dist/ 2>/dev/null || true
            exit "$status"
        fi
        mkdir -p build-win64 build-win32 build-wine
        chown -R "$tester:" build-win64 build-win32 build-wine "$logs" dist
        exec runuser -u "$tester" -- env -i HOME="$home" USER="$tester" LOGNAME="$tester" \
            PATH=/usr/local/bin:/usr/bin:/bin LC_ALL=C.UTF-8 ${CI:+CI=$CI} \
            bash scripts/build-windows.sh --as-tester "$@"
    fi
fi

# --- from here on as an ordinary user ------------------------------------------
mkdir -p "$logs" dist
rm -f "$logs"/*-ctest.log  # scripts/test.sh counts what this run tested
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2  # the machine is shared
have_32=0
if [ "$want_32" -eq 1 ]; then
    have_32=1
    for p in "${packages32[@]}"; do installed "$p" || have_32=0; done
fi

# --- Wine ------------------------------------------------------------------
# The tests' own prefix, shared by the 64- and 32-bit builds (a WoW64 prefix
# runs both), one per user: Wine refuses a prefix another user owns.
# wineserver -k only ever with it set: another Wine user on this machine
# keeps theirs.
export WINEPREFIX="$PWD/build-wine/prefix-$(id -un)" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
server_running=0
xvfb_pid=

# Windows need a display: a private X server unless one is given. (Wine's null
# driver would do for the tests, but it is the prefix's choice, and the
# window's end-to-end runs need a real one.)
start_display() {
    [ -n "${DISPLAY:-}" ] && return 0
    local display
    read -r display xvfb_pid < <(python3 tests/e2e/xserver.py --log "$logs/wine.log")
    export DISPLAY="$display"
}

prepare_wine() {
    [ "$server_running" -eq 1 ] && return 0
    start_display
    scripts/wine-prefix.sh "$logs/wine.log"
    # A persistent server: otherwise Wine's helper processes keep the first
    # test's output pipe open and ctest waits for them. (One left running for
    # this prefix by an earlier run serves as well.)
    wineserver -p 2>/dev/null || true
    server_running=1
    # One Wine start ahead, with its output elsewhere: the helpers it starts stay.
    wine cmd /c exit >/dev/null 2>&1 || true
}

stop_wine() {
    [ "$server_running" -eq 1 ] && wineserver -k 2>/dev/null || true
    server_running=0
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        # Not our child: its display number is free once it has gone.
        while kill -0 "$xvfb_pid" 2>/dev/null; do sleep 0.1; done
        xvfb_pid=
    fi
}
trap stop_wine EXIT

# --- build, check, test, pack ----------------------------------------------
failures=0

# System DLLs every Windows has; anything else would have to ship in the folder.
allowed_dll='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|shlwapi|ole32|oleaut32|advapi32|bcrypt|msvcrt|uxtheme|version|winmm|ws2_32|msimg32|imm32)\.dll$'

check_imports() {
    local objdump=$1 exe=$2 bad=0
    while read -r dll; do
        if ! grep -qiE "$allowed_dll" <<<"$dll"; then
            note "ERROR: $exe imports $dll, which a bare Windows lacks"
            bad=1
        fi
    done < <("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
    return $bad
}

pack() {
    local bin=$1 triplet=$2 zipname=$3
    # One folder to unzip: the program, its decompressor, nothing else.
    local stage f
    stage=$(mktemp -d)
    mkdir "$stage/Jor-Orvek"
    for f in jor-orvek.exe gunzip.exe; do
        if [ ! -f "$bin/$f" ]; then
            note "ERROR: $bin/$f was not built: dist/$zipname not packed"
            rm -rf "$stage"
            return 1
        fi
        cp "$bin/$f" "$stage/Jor-Orvek/"
    done
    # Symbols only make the download larger; the build folder keeps them.
    "$triplet-strip" --strip-unneeded "$stage"/Jor-Orvek/*.exe
    rm -f "dist/$zipname"
    (cd "$stage" && zip -q -r -9 "$OLDPWD/dist/$zipname" Jor-Orvek)
    rm -rf "$stage"
    note "dist/$zipname: $(du -k "dist/$zipname" | cut -f1) KB"
}

build_one() {
    local build=$1 toolchain=$2 triplet=$3 zipname=$4
    local t0=$SECONDS
    note "== $build: configure and build (log: $logs/$build-build.log)"
    # The end-to-end tests unzip the packed folder, as a practice would.
    if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="cmake/$toolchain" -DJOR_WINEPREFIX="$WINEPREFIX" \
        -DPython3_EXECUTABLE="$(command -v python3)" \
        -DJOR_DIST_ZIP="$PWD/dist/$zipname" &&
        cmake --build "$build" -j"$jobs"; } >"$logs/$build-build.log" 2>&1; then
        tail -n 40 "$logs/$build-build.log"
        note "$build: build FAILED"
        failures=$((failures + 1))
        return
    fi
    note "$build: built in $((SECONDS - t0))s"

    # The test programs too: they prove the static link before the window exists.
    local bin=$build/bin exe
    while read -r exe; do
        check_imports "$triplet-objdump" "$exe" || failures=$((failures + 1))
    done < <(find "$bin" "$build/tests" -name '*.exe')

    pack "$bin" "$triplet" "$zipname" || failures=$((failures + 1))

    if [ "$run_tests" -eq 1 ]; then
        t0=$SECONDS
        note "== $build: ctest under Wine (log: $logs/$build-ctest.log)"
        prepare_wine
        local status=0
        ctest --test-dir "$build" --output-on-failure -j"$jobs" >"$logs/$build-ctest.log" 2>&1 || status=$?
        grep -E '^[0-9]+% tests passed' "$logs/$build-ctest.log" || true
        if [ "$status" -ne 0 ]; then
            grep -E '\*\*\*Failed|Not Run|Timeout' "$logs/$build-ctest.log" || tail -n 40 "$logs/$build-ctest.log"
            failures=$((failures + 1))
        fi
        note "$build: tests took $((SECONDS - t0))s"
    fi

    if [ "$run_bench" -eq 1 ]; then
        note "== $build: bench_windows under Wine (log: $logs/$build-bench.log)"
        prepare_wine
        # Through a file: a Wine helper started on the way would hold a pipe open.
        wine "$build/bench/bench_windows.exe" </dev/null >"$logs/$build-bench.log" 2>&1 || failures=$((failures + 1))
        cat "$logs/$build-bench.log"
    fi
}

build_one build-win64 mingw-w64-x86_64.cmake x86_64-w64-mingw32 jor-orvek-windows-x86_64.zip
if [ "$have_32" -eq 1 ]; then
    build_one build-win32 mingw-w64-i686.cmake i686-w64-mingw32 jor-orvek-windows-x86.zip
fi

stop_wine
[ "$failures" -eq 0 ]
