#!/usr/bin/env bash
# The program loads no Qt library, directly or through another library.
set -euo pipefail
program="$1"
libraries=$(ldd "$program") || { echo "FAIL: ldd $program failed"; exit 1; }
grep -q "libc\.so" <<<"$libraries" || { echo "FAIL: ldd listed no C library: $libraries"; exit 1; }
if grep -i "qt" <<<"$libraries"; then
  echo "FAIL: $program loads Qt"
  exit 1
fi
echo "no Qt library in $program"
