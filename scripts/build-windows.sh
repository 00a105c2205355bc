#!/usr/bin/env bash
# Builds the Windows program folder with mingw-w64, packs it and tests it
# under Wine (the end-to-end runs unzip the packed folder):
#   build-win64/bin -> dist/jor-orvek-windows-x86_64.zip
#   build-win32/bin -> dist/jor-orvek-windows-x86.zip (where the 32-bit
#                      toolchain and wine32 install)
# Installs what is missing from Debian's packages first. Options:
#   --no-tests   build and pack only
#   --only-64    leave the 32-bit build out
# Logs: build-win-logs/. Exit status non-zero when a build, a test or the
# import check fails.
set -euo pipefail
cd "$(dirname "$0")/.."

run_tests=1
want_32=1
for arg in "$@"; do
    case "$arg" in
    --no-tests) run_tests=0 ;;
    --only-64) want_32=0 ;;
    *) echo "usage: $0 [--no-tests] [--only-64]" >&2; exit 2 ;;
    esac
done

logs=build-win-logs
mkdir -p "$logs" dist
rm -f "$logs"/*-ctest.log  # scripts/test.sh counts what this run tested
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2  # the machine is shared

note() { printf '%s\n' "$*"; }

# --- packages ---------------------------------------------------------------
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

install_missing() {
    local missing=()
    for p in "$@"; do installed "$p" || missing+=("$p"); done
    [ ${#missing[@]} -eq 0 ] && return 0
    note "installing: ${missing[*]} (log: $logs/packages.log)"
    export DEBIAN_FRONTEND=noninteractive
    {
        apt-get update -qq &&
            apt-get install -y -qq --no-install-recommends "${missing[@]}"
    } >>"$logs/packages.log" 2>&1
}

packages64=(
    cmake ninja-build zip unzip gzip ncompress xvfb xauth xdotool xclip python3
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev googletest
    wine wine64 fonts-wine dcmtk
)
install_missing "${packages64[@]}"

have_32=0
if [ "$want_32" -eq 1 ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
        apt-get update -qq >>"$logs/packages.log" 2>&1 || true
    fi
    if install_missing g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine32:i386; then
        have_32=1
    else
        note "WARNING: the 32-bit toolchain or wine32 did not install; building 64-bit only"
    fi
fi

# --- Wine ------------------------------------------------------------------
# The tests' own prefix, shared by the 64- and 32-bit builds (a WoW64 prefix
# runs both). wineserver -k only ever with it set: another Wine user on this
# machine keeps theirs.
export WINEPREFIX="$PWD/build-wine/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
server_running=0
xvfb_pid=

# Windows need a display: a private X server unless one is given. (Wine's null
# driver would do for the tests, but it is the prefix's choice, and the
# window's end-to-end runs need a real one.)
start_display() {
    [ -n "${DISPLAY:-}" ] && return 0
    local fifo number
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$fifo" >>"$logs/wine.log" 2>&1 &
    xvfb_pid=$!
    read -r number <"$fifo"
    rm -f "$fifo"
    export DISPLAY=":$number"
}

prepare_wine() {
    [ "$server_running" -eq 1 ] && return 0
    start_display
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        note "creating the Wine prefix $WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        wineboot -i >>"$logs/wine.log" 2>&1
        wineserver -w
    fi
    # >>> A CD-ROM drive R: with label and serial for the medium's identity tests
    # (tests/platform/win32/test_volume_identity.cpp); before the server below,
    # as Wine reads its drives when it starts.
    scripts/wine-cdrom-drive.sh "$WINEPREFIX" r "$PWD/build-wine/cdrom" "JOR TESTCD" 1A2B3C4D >>"$logs/wine.log" 2>&1 ||
        note "WARNING: drive R: not set up (log: $logs/wine.log)"
    # <<<
    # A persistent server: otherwise Wine's helper processes keep the first
    # test's output pipe open and ctest waits for them. (One left running for
    # this prefix by an earlier run serves as well.)
    wineserver -p 2>/dev/null || true
    server_running=1
    # Tahoma as the window asks for it (else Wine draws Liberation Sans in
    # other widths), and Marlett for the frame's symbols.
    local fonts="$WINEPREFIX/drive_c/windows/Fonts" font
    mkdir -p "$fonts"
    for font in tahoma.ttf tahomabd.ttf marlett.ttf; do
        cp -u "/usr/share/wine/fonts/$font" "$fonts/"
    done
    # German regional settings, as on the practices' PCs (the logs' date and
    # time are checked in that form), as the user's own formats: Wine resets
    # them all should "Locale" differ from the locale of its environment.
    # And windows not managed: without a window manager, a managed window
    # waits some 2 s for one.
    local reg
    reg=$(mktemp --suffix=.reg)
    cat >"$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Control Panel\International]
"sShortDate"="dd.MM.yyyy"
"sLongDate"="dddd, d. MMMM yyyy"
"sDate"="."
"iDate"="1"
"iLDate"="1"
"sTimeFormat"="HH:mm:ss"
"sShortTime"="HH:mm"
"sTime"=":"
"iTime"="1"
"iTLZero"="1"
"s1159"=""
"s2359"=""
"sDecimal"=","
"sThousand"="."
"sList"=";"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
REG
    wine regedit /S "$(winepath -w "$reg")" >>"$logs/wine.log" 2>&1
    rm -f "$reg"
    # One Wine start ahead, with its output elsewhere: the helpers it starts stay.
    wine cmd /c exit >/dev/null 2>&1 || true
}

stop_wine() {
    [ "$server_running" -eq 1 ] && wineserver -k 2>/dev/null || true
    server_running=0
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=
    fi
}
trap stop_wine EXIT

# --- build, check, test, pack ----------------------------------------------
failures=0

# System DLLs every Windows has; anything else would have to ship in the folder.
allowed_dll='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|shlwapi|ole32|oleaut32|advapi32|msvcrt|uxtheme|version|winmm|ws2_32|msimg32|imm32)\.dll$'

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
}

build_one build-win64 mingw-w64-x86_64.cmake x86_64-w64-mingw32 jor-orvek-windows-x86_64.zip
if [ "$have_32" -eq 1 ]; then
    build_one build-win32 mingw-w64-i686.cmake i686-w64-mingw32 jor-orvek-windows-x86.zip
fi

stop_wine
[ "$failures" -eq 0 ]
