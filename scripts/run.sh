#!/usr/bin/env bash
# Installs what is missing, builds and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
# Without a display Qt would only end with advice to reinstall it.
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'TEXT'
Jor-Orvek is a desktop program: it needs a graphical session, and neither
DISPLAY nor WAYLAND_DISPLAY is set here. Start it from a desktop session, or
without one in a virtual X server (installed by scripts/setup.sh):

    scripts/setup.sh && xvfb-run -a scripts/run.sh

scripts/build.sh builds it without starting it.
TEXT
  exit 1
fi
scripts/setup.sh
scripts/build.sh
exec build/bin/jor-orvek
