#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it on the embedded SQL Server engine.
# The drive C: of the program is $VOPA_DRIVE_C (default ~/.local/share/vopa/drive_c). When no
# installation exists there yet, a demo installation is made first and its users are printed.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" >/dev/null

build/release/tools/vopa-demo --if-missing

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
  cat <<'TEXT'
There is no display here to show the program's windows on (neither DISPLAY nor WAYLAND_DISPLAY is set).
Run it from a desktop session, or on a server with a virtual display:
  sudo apt-get install xvfb && xvfb-run ./run.sh
TEXT
  exit 0
fi
exec build/release/src/vopa-training "$@"
