#!/usr/bin/env bash
# The demo installation tool's options, output and exit status, on a fresh drive C:.
set -euo pipefail
demo="$1"
export VOPA_DRIVE_C=$(mktemp -d)
err=$(mktemp)
trap 'rm -rf "$VOPA_DRIVE_C" "$err"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$demo" --help | grep -q "VOPA_DRIVE_C" || fail "the help does not name the drive root"
[[ ! -e "$VOPA_DRIVE_C/vopa" ]] || fail "--help created files"
if "$demo" --rows many 2>"$err" >/dev/null; then fail "a bad --rows was accepted"; fi
grep -q -- "--rows" "$err" || fail "no message for a bad --rows: $(cat "$err")"
if "$demo" --colour 2>/dev/null >/dev/null; then fail "an unknown option was accepted"; fi

out=$("$demo" --rows 400 --seed 3 2>/dev/null) || fail "the installation failed"
mapfile -t lines <<<"$out"
[[ "${lines[0]}" =~ ^user\ [a-z0-9]+\ password\ [a-z0-9]+\ \(administrator ]] || fail "administrator not first: ${lines[0]}"
grep -q "^user [a-z0-9]* password - (" <<<"$out" || fail "no user without a password: $out"
[[ $(grep -c "^user " <<<"$out") == 3 ]] || fail "not three users: $out"
[[ $(grep -c "^company .*VoPaDati" <<<"$out") == 2 ]] || fail "not two companies: $out"
[[ -f "$VOPA_DRIVE_C/vopa/IndirizzoServer.txt" ]] || fail "no server address file"

if "$demo" --rows 400 >/dev/null 2>"$err"; then fail "an existing installation was replaced without --force"; fi
grep -q "already exists under $VOPA_DRIVE_C; use --force" "$err" || fail "unclear refusal: $(cat "$err")"
address=$(cat "$VOPA_DRIVE_C/vopa/IndirizzoServer.txt")
out=$("$demo" --server-logins 2>/dev/null) || fail "--server-logins on the installation failed"
grep -q "^login vopa password [A-Za-z0-9]\{20\}$" <<<"$out" || fail "no made-up login: $out"
grep -q '^VOPA_ODBC_OPTIONS="UID=vopa;PWD=[A-Za-z0-9]*;"$' <<<"$out" || fail "no VOPA_ODBC_OPTIONS line: $out"
! grep -q "^company " <<<"$out" || fail "--server-logins made the installation again: $out"
[[ $(cat "$VOPA_DRIVE_C/vopa/IndirizzoServer.txt") == "$address" ]] || fail "the server address file changed"
echo "demo: all checks passed"
