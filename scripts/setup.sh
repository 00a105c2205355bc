#!/usr/bin/env bash
# Installs what building, running and testing need, from Debian's packages
# only, and generates the German locale the log tests read dates in. Says
# nothing when all is there; otherwise one line per stage, the full output
# goes to a log file, and a failed stage prints that log whole.
set -euo pipefail
. "$(dirname "$0")/lib/apt.sh"
packages=(
  build-essential cmake ninja-build pkg-config python3
  qt6-base-dev libgl-dev libx11-dev
  libgtest-dev libgmock-dev
  gzip ncompress dcmtk python3-pydicom zlib1g-dev libdeflate-dev libblkid-dev libssl-dev xorriso
  fuse3 libfuse3-dev python3-fusepy
  xvfb xauth xdotool x11-utils imagemagick at-spi2-core dbus-daemon dbus-bin openbox
  fonts-liberation2 fonts-dejavu-core
  clang libclang-rt-14-dev
  e2fsprogs
  locales
)
locale=de_DE.UTF-8
# Listed in locale.gen, the locale outlives every later package operation
# that regenerates the locales from that list.
locale_gen=${JOR_LOCALE_GEN:-/etc/locale.gen}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
has_locale() {
  locale -a 2>/dev/null | grep -ix "${locale/UTF-8/utf8}" >/dev/null &&
    grep -qx "$locale UTF-8" "$locale_gen" 2>/dev/null
}
if [ ${#missing[@]} -eq 0 ] && has_locale; then exit 0; fi

log=$(mktemp -t jor-orvek-setup.XXXXXX.log)
echo "Set-up; the full output goes to $log"
# stage TEXT COMMAND...
stage() {
  local text=$1
  shift
  echo "  $text"
  echo "== $text: $*" >>"$log"
  if ! "$@" >>"$log" 2>&1; then
    echo "Set-up failed while ${text,}. The whole log, $log:" >&2
    cat "$log" >&2
    exit 1
  fi
}
generate_locale() {
  if grep -q "^# *$locale UTF-8\$" "$locale_gen" 2>/dev/null; then
    sed -i "s/^# *$locale UTF-8\$/$locale UTF-8/" "$locale_gen"
  elif ! grep -qx "$locale UTF-8" "$locale_gen" 2>/dev/null; then
    echo "$locale UTF-8" >>"$locale_gen"
  fi
  locale-gen
}
if [ ${#missing[@]} -gt 0 ]; then
  stage "Updating the package lists" apt_get update
  stage "Installing ${#missing[@]} missing packages" apt_get install -y --no-install-recommends "${missing[@]}"
fi
if ! has_locale; then
  stage "Generating the locale $locale" generate_locale
fi
echo "Set-up done."
