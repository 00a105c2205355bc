#!/usr/bin/env bash
# Makes the Wine prefix the Windows tests run in (WINEPREFIX, which must be
# set) as a practice PC is set up: German regional settings, Tahoma, windows
# left unmanaged (there is no window manager). Creates the prefix when
# missing; run again, it only brings the settings up to date. Wine's output
# is appended to the file named by $1 (default /dev/null).
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
log=${1:-/dev/null}

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >>"$log" 2>&1
    # Before anything else uses it: a prefix half made is updated again by
    # the next program to start, under that program's feet.
    wineserver -w
fi

# Tahoma as the window asks for it (else Wine draws Liberation Sans in other
# widths), and Marlett for the frame's symbols.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
mkdir -p "$fonts"
for font in tahoma.ttf tahomabd.ttf marlett.ttf; do
    cp -u "/usr/share/wine/fonts/$font" "$fonts/"
done

# German regional settings, as on the practices' PCs (the logs' date and time
# are checked in that form), as the user's own formats: Wine resets them all
# should "Locale" differ from the locale of its environment. And windows not
# managed: without a window manager, a managed window waits some 2 s for one.
reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg"' EXIT
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
wine regedit /S "$(winepath -w "$reg")" >>"$log" 2>&1

# CD-ROM drives with a label and a serial each, for the tests of the medium's
# identity (tests/platform/win32/test_volume_identity.cpp) and of disc after
# disc (tests/e2e/run_e2e_wine.py --journal).
for drive in "r JOR_TESTCD 1A2B3C4D" "s PRAXIS_2 2B3C4D5E" "t PRAXIS_3 3C4D5E6F"; do
    read -r letter label serial <<<"$drive"
    "$(dirname "$0")/wine-cdrom-drive.sh" "$WINEPREFIX" "$letter" "$WINEPREFIX/cdrom-$letter" "${label//_/ }" "$serial" \
        >>"$log" 2>&1
done
