#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it on the embedded SQL Server engine.
# The drive C: of the program is $VOPA_DRIVE_C (default ~/.local/share/vopa/drive_c).
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" >/dev/null
exec build/release/src/vopa-training "$@"
