#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: all labels on the debug build, then the unit and
# engine tests again under AddressSanitizer + UndefinedBehaviorSanitizer. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh --packaging

# Warnings are errors in CI; locally they are only shown.
export VOPA_WERROR=${VOPA_WERROR:-$([[ -n "${CI:-}" ]] && echo ON || echo OFF)}
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
jobs=$(nproc)

cmake --preset debug >/dev/null
cmake --build --preset debug -j "$jobs"
ctest --preset debug -j "$jobs"

# The Debian packages: built from the packaging preset, checked with lintian, unpacked into a throwaway
# root whose programs make a demo installation and build the training database.
tests/packaging/packages_test.sh

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs" -L 'unit|engine|tools'

# The engine's fuzzers, when clang is there: a short bounded run of each over the seed corpus (the
# conformance files and the program's statement lists). A crash, a sanitizer report or an internal
# failure of the engine fails the run.
# clang needs its fuzzer runtime (libclang-rt-*-dev), which a machine may lack even when clang is there.
fuzzer_runtime() {
  echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
    clang++ -fsanitize=fuzzer -x c++ - -o /dev/null >/dev/null 2>&1
}
if command -v clang++ >/dev/null 2>&1 && command -v python3 >/dev/null 2>&1 && fuzzer_runtime; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs" --target fuzz_sql fuzz_batch fuzz_tds
  corpus=$(mktemp -d)
  python3 tools/fuzz/seed_corpus.py . "$corpus/seeds" >/dev/null
  for target in fuzz_sql fuzz_batch fuzz_tds; do
    mkdir -p "$corpus/$target"
    VOPA_FUZZ_STRICT=1 "build/fuzz/tools/fuzz/$target" -max_total_time=30 -max_len=4096 -timeout=10 \
      -print_final_stats=1 "$corpus/$target" "$corpus/seeds" 2>&1 | tail -n 12
  done
  rm -rf "$corpus"
else
  echo "clang++ with its fuzzer runtime, or python3, not found: the fuzzers are not run"
fi
