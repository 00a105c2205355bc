#!/usr/bin/env bash
# Makes a folder a CD-ROM drive of a Wine prefix, with the label and serial Wine reports for it:
#   scripts/wine-cdrom-drive.sh <prefix> <letter> <folder> <label> <serial: 8 hex digits>
# Wine's mount manager reads the drive, its type and both files once, when it
# starts: after a change the prefix's wineserver is stopped, so that the next
# Wine program sees the drive. Does nothing when all is in place.
set -euo pipefail
if [ $# -ne 5 ] || ! [[ $2 =~ ^[d-yD-Y]$ ]] || ! [[ $5 =~ ^[0-9A-Fa-f]{8}$ ]]; then
    echo "usage: $0 <prefix> <letter d-y> <folder> <label> <serial: 8 hex digits>" >&2
    exit 2
fi
export WINEPREFIX=$1
letter=${2,,} label=$4 serial=$5
mkdir -p "$3" "$WINEPREFIX/dosdevices"
folder=$(realpath "$3")
link="$WINEPREFIX/dosdevices/$letter:"

changed=0
# Wine reads the first line of each, the serial as hex.
for entry in ".windows-label=$label" ".windows-serial=$serial"; do
    file="$folder/${entry%%=*}"
    if [ "$(cat "$file" 2>/dev/null)" != "${entry#*=}" ]; then
        printf '%s\n' "${entry#*=}" >"$file"
        changed=1
    fi
done
if [ "$(readlink "$link" 2>/dev/null)" != "$folder" ]; then
    ln -sfn "$folder" "$link"
    changed=1
fi
# The drive types live in HKEY_LOCAL_MACHINE\Software\Wine\Drives ("hd", "cdrom", ...),
# the 64-bit view: a 32-bit reg.exe would write below Wow6432Node.
registered() {
    awk -v key='[Software\\\\Wine\\\\Drives]' -v want="\"$letter:\"=\"cdrom\"" '
        /^\[/ { inside = index($0, key) == 1 }
        inside && $0 == want { found = 1 }
        END { exit !found }' "$WINEPREFIX/system.reg" 2>/dev/null
}
if ! registered; then
    wine reg add 'HKLM\Software\Wine\Drives' /v "$letter:" /t REG_SZ /d cdrom /f /reg:64 >/dev/null
    changed=1
fi
if [ "$changed" -eq 1 ]; then
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
fi
