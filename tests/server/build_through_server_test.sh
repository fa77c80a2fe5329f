#!/usr/bin/env bash
# The whole headless build through the wire: the program's ODBC path (unixODBC + the FreeTDS driver)
# against vopa-server must leave the same training database as the build on the engine in-process:
# the same tables, columns, indexes and rows, and the same registration; and an anonymised build through
# it replaces the contacts' names.
set -euo pipefail
demo="$1"
build="$2"
server="$3"
sqlcmd="$4"
driver=/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so
work=$(mktemp -d)
export VOPA_DRIVE_C="$work/c"
export ODBCINI="$work/odbc.ini"
export VOPA_SA_PASSWORD='Prova-sa-1'
server_pid=""
cleanup() {
  [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
# The databases are read in-process, not through the server the program is pointed at.
local_sqlcmd() { env -u VOPA_ODBC_DRIVER -u VOPA_ODBC_OPTIONS "$sqlcmd" "$@"; }
[[ -f "$driver" ]] || fail "the FreeTDS ODBC driver is not installed ($driver)"

# Everything the build leaves, read through the engine in-process: structure, rows, keys and the
# registration of the training company.
dump() {
  local sql="SET NOCOUNT ON
SELECT TABLE_NAME, COLUMN_NAME, ORDINAL_POSITION, DATA_TYPE, CHARACTER_MAXIMUM_LENGTH, NUMERIC_PRECISION,
       NUMERIC_SCALE, IS_NULLABLE, COLUMN_DEFAULT FROM INFORMATION_SCHEMA.COLUMNS ORDER BY TABLE_NAME, ORDINAL_POSITION
SELECT o.name, i.name, i.type, i.is_unique, i.is_primary_key FROM sys.indexes i JOIN sys.objects o
       ON o.object_id = i.object_id WHERE i.name IS NOT NULL ORDER BY o.name, i.name"
  local table
  while IFS= read -r table; do
    [[ -n "$table" && "$table" != "("*" affected)" ]] || continue
    sql+=$'\n'"SELECT '$table' AS tabella"$'\n'"SELECT * FROM [$table]"
  done < <(local_sqlcmd -d VoPaDatiTraining -h -1 -W -Q \
             "SET NOCOUNT ON SELECT TABLE_NAME FROM INFORMATION_SCHEMA.TABLES ORDER BY TABLE_NAME")
  sql+=$'\n'"SELECT * FROM VoPaDatiAzienda.dbo.link_programma WHERE NomeAzienda = 'Training Sede'"
  local_sqlcmd -d VoPaDatiTraining -b -W -s '|' -Q "$sql" > "$1" || fail "reading the training database: $(tail -5 "$1")"
}

"$demo" --rows 300 >/dev/null 2>&1 || fail "the demo installation failed"
run_build() {
  "$build" --user amministratore --password demo2024 --yes > "$work/build.out" 2>&1 ||
    fail "the $1 build failed: $(tail -20 "$work/build.out")"
  grep -q "252 of 252 tables copied completely" "$work/build.out" || fail "the $1 build: $(tail -20 "$work/build.out")"
}
run_build "in-process"
dump "$work/in-process.txt"
[[ $(grep -c '^tabella' "$work/in-process.txt") -ge 300 ]] || fail "the dump lists too few tables"

# The same drive served by vopa-server; the program reaches it through the FreeTDS ODBC driver.
"$server" --port 0 > "$work/server.out" 2> "$work/server.err" &
server_pid=$!
for _ in $(seq 50); do grep -q "listening on" "$work/server.out" && break; sleep 0.1; done
port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/server.out")
[[ -n "$port" ]] || fail "the server did not start: $(cat "$work/server.out" "$work/server.err")"
printf 'Driver=SQL Server;Server=127.0.0.1;UID=;PWD=;\r\n' > "$VOPA_DRIVE_C/vopa/IndirizzoServer.txt"
printf '127.0.0.1\r\n' > "$VOPA_DRIVE_C/vopa/NomeServer.txt"
export VOPA_ODBC_DRIVER="$driver"
export VOPA_ODBC_OPTIONS="Port=$port;TDS_Version=7.4;ClientCharset=UTF-8;UID=sa;PWD=$VOPA_SA_PASSWORD;"
run_build "through the server"
dump "$work/through-server.txt"

# An anonymised build through the wire too: the work tables and the UPDATEs are statements the server
# takes, and no contact keeps its name.
"$build" --user amministratore --password demo2024 --yes --anonymise > "$work/build.out" 2>&1 ||
  fail "the anonymised build failed: $(tail -20 "$work/build.out")"
grep -q "252 of 252 tables copied completely; personal data anonymised" "$work/build.out" ||
  fail "the anonymised build: $(tail -20 "$work/build.out")"
company=$(sed -n 's/^company database: //p' "$work/build.out")
same=$(local_sqlcmd -h -1 -W -Q "SET NOCOUNT ON SELECT COUNT(*) FROM VoPaDatiTraining.dbo.contatti t
  JOIN [$company].dbo.contatti o ON o.IdContatto = t.IdContatto WHERE t.NomeSocietà = o.NomeSocietà
  OR t.Codicefiscale = o.Codicefiscale" | head -1)
contacts=$(local_sqlcmd -h -1 -W -Q "SET NOCOUNT ON SELECT COUNT(*) FROM VoPaDatiTraining.dbo.contatti" | head -1)
[[ "$same" == 0 && "$contacts" -gt 10 ]] || fail "anonymised through the server: $same of $contacts contacts kept a name"

# With the server stopped the same settings cannot sign in: the build above went through it.
kill "$server_pid" && wait "$server_pid" 2>/dev/null || true
server_pid=""
if "$build" --user amministratore --password demo2024 --yes > "$work/build.out" 2>&1; then
  fail "a build without the server succeeded: the program did not use it"
fi
unset VOPA_ODBC_DRIVER VOPA_ODBC_OPTIONS

diff -u "$work/in-process.txt" "$work/through-server.txt" > "$work/diff.txt" ||
  fail "the training databases differ: $(head -40 "$work/diff.txt")"
echo "build through the server: the same training database"
