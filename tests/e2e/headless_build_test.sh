#!/usr/bin/env bash
# The headless build on a demo installation: its exit status on a wrong password and on success, the
# ways it takes the password, the company line and the report it names. The program is vopa-training
# (with --build) or vopa-build (the same options; --build accepted).
set -euo pipefail
demo="$1"
program="$2"
export VOPA_DRIVE_C=$(mktemp -d)
export ODBCINI="$VOPA_DRIVE_C/odbc.ini"
out=$(mktemp)
trap 'rm -rf "$VOPA_DRIVE_C" "$out"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$demo" --rows 300 >/dev/null 2>&1 || fail "the demo installation failed"
"$demo" --if-missing >"$out" 2>&1 || fail "--if-missing failed on an existing installation"
[[ ! -s "$out" ]] || fail "--if-missing said something: $(cat "$out")"

if "$program" --build --user amministratore --password sbagliata --yes >"$out" 2>&1; then
  fail "a wrong password built: $(cat "$out")"
fi
grep -q "sign-in of amministratore failed" "$out" || fail "no sign-in failure message: $(cat "$out")"
if "$program" --build --user stagista --password stage2023 --yes >"$out" 2>&1; then fail "a disabled user built"; fi
if "$program" --build --user amministratore --password demo2024 >"$out" 2>&1; then fail "built without --yes"; fi

# A company that is not the one asked for is never built: a wrong or unknown id fails before anything.
for company in 99 nan -1 1.5 2junk ""; do
  if "$program" --build --user amministratore --password demo2024 --yes --company "$company" >"$out" 2>&1; then
    fail "--company '$company' built: $(cat "$out")"
  fi
  ! grep -q "^company database:" "$out" || fail "--company '$company' started a build: $(cat "$out")"
done
# A registered company whose database is gone is not replaced by another.
VOPA_DRIVE_C="$VOPA_DRIVE_C" "$(dirname "$demo")/vopa-sqlcmd" -S "(local)" -d VoPaDatiAzienda \
  -Q "SET IDENTITY_INSERT link_programma ON INSERT INTO link_programma (id, NomeAzienda, DBname) VALUES (7, N'Sparita', N'VoPaDatiSparita') SET IDENTITY_INSERT link_programma OFF" >/dev/null
if "$program" --build --user amministratore --password demo2024 --yes --company 7 >"$out" 2>&1; then
  fail "a company without its database built: $(cat "$out")"
fi
grep -q "VoPaDatiSparita" "$out" || fail "the missing database is not named: $(cat "$out")"

# The password kept off the command line: from standard input or from the environment (without --yes the
# program signs in, names the company and stops at the build's question).
signs_in() { grep -q "^company database: VoPaDati" "$out" || fail "$1 did not sign in: $(cat "$out")"; }
printf 'demo2024\r\n' | "$program" --build --user amministratore --password-stdin >"$out" 2>&1 || true
signs_in "--password-stdin"
VOPA_PASSWORD=demo2024 "$program" --build --user amministratore </dev/null >"$out" 2>&1 || true
signs_in "VOPA_PASSWORD"
# The usage and the messages name the program that runs; a wrong command line exits with 2.
name=$(basename "$program")
"$program" --build --help | sed -n 1p | grep -q "^usage: $name" || fail "the usage does not name $name"
status=0
"$program" --build --user >"$out" 2>&1 || status=$?
[[ $status -eq 2 ]] || fail "a wrong command line exited with $status: $(cat "$out")"
grep -q "^$name: --user needs a value" "$out" || fail "the error does not name $name: $(cat "$out")"
if [[ "$name" == vopa-build ]]; then
  if "$program" --user amministratore --password sbagliata --yes >"$out" 2>&1; then fail "a wrong password built"; fi
  grep -q "sign-in of amministratore failed" "$out" || fail "without --build: $(cat "$out")"
fi
"$program" --build --help | grep -q -- "--password-stdin" || fail "--help does not name --password-stdin"
"$program" --build --help | grep -q "VOPA_PASSWORD" || fail "--help does not name VOPA_PASSWORD"

"$program" --build --user amministratore --password demo2024 --yes >"$out" 2>&1 || fail "the build failed: $(cat "$out")"
grep -q "^company database: VoPaDati" "$out" || fail "no company line: $(cat "$out")"
report=$(sed -n 's/.*report: .* (\(.*\))$/\1/p' "$out")
[[ -f "$report" ]] || fail "no report file: $(cat "$out")"
grep -q "^Esito: completata" "$report" || fail "the report does not say completed"
! grep -q " DIVERSO$" "$report" || fail "the report lists tables that differ"
echo "headless build: all checks passed"
