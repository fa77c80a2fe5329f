#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: all labels on the debug build, then the unit and
# engine tests again under AddressSanitizer + UndefinedBehaviorSanitizer. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh

# Warnings are errors in CI; locally they are only shown.
export VOPA_WERROR=${VOPA_WERROR:-$([[ -n "${CI:-}" ]] && echo ON || echo OFF)}
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
jobs=$(nproc)

cmake --preset debug >/dev/null
cmake --build --preset debug -j "$jobs"
ctest --preset debug -j "$jobs"

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs" -L 'unit|engine'
