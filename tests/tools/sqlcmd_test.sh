#!/usr/bin/env bash
# The query tool's options and output, on a fresh drive C:.
set -euo pipefail
sqlcmd="$1"
export VOPA_DRIVE_C=$(mktemp -d)
trap 'rm -rf "$VOPA_DRIVE_C"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

out=$("$sqlcmd" -S "(local)" -Q "SELECT name FROM master.dbo.sysdatabases")
grep -q "^master" <<<"$out" || fail "master not listed: $out"
grep -q "(1 rows affected)" <<<"$out" || fail "no row count: $out"

script=$(mktemp)
printf 'CREATE DATABASE Prova\nGO\nCREATE TABLE Prova.dbo.t (a int NULL, b nvarchar(5) NULL)\ngo\nINSERT INTO Prova.dbo.t VALUES (1, NULL), (2, N'"'"'due'"'"')\nGO\n' >"$script"
"$sqlcmd" -S localhost -i "$script" >/dev/null || fail "script failed"
out=$("$sqlcmd" -S . -d Prova -h -1 -W -s "|" -Q "SELECT a, b FROM t ORDER BY a")
[[ "$(head -2 <<<"$out")" == $'1|NULL\n2|due' ]] || fail "unexpected rows: $out"

out=$("$sqlcmd" -S . -d Prova -Q "SELECT COLUMN_NAME, DATA_TYPE FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 't'")
grep -q "nvarchar" <<<"$out" || fail "no column listing: $out"

out=$("$sqlcmd" -S . -Q "SELECT * FROM nessuna" || true)
grep -q "^Msg 208, Level 16, State 1" <<<"$out" || fail "error not printed as sqlcmd prints it: $out"
if "$sqlcmd" -S . -b -Q "SELECT * FROM nessuna" >/dev/null; then fail "-b did not exit non-zero"; fi
if "$sqlcmd" -S ALTROPC -Q "SELECT 1" 2>/dev/null; then fail "an unknown server answered"; fi
"$sqlcmd" --create-instance PROVA >/dev/null
"$sqlcmd" -S "localhost\\prova" -b -Q "SELECT 1" >/dev/null || fail "the created instance does not answer"
"$sqlcmd" --help | grep -q "usage" || fail "no help"
echo "sqlcmd: all checks passed"
