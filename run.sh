#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it on the embedded SQL Server engine.
# The drive C: of the program is $VOPA_DRIVE_C (default ~/.local/share/vopa/drive_c). When no
# installation exists there yet, a demo installation is made first and its users are printed.
# With a display the program's windows start; without one, the program's main job runs headless:
# the training database is built from the demo company with the demo administrator.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" >/dev/null

build/release/tools/vopa-demo --if-missing

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
  cat <<'TEXT'
There is no display here for the program's windows (neither DISPLAY nor WAYLAND_DISPLAY is set), so
the training database is built without them. To see the windows, run ./run.sh from a desktop session,
or with a virtual display: xvfb-run ./run.sh
TEXT
  exec build/release/src/vopa-build --user amministratore --password demo2024 --yes
fi
exec build/release/src/vopa-training "$@"
