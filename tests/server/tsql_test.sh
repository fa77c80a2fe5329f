#!/usr/bin/env bash
# FreeTDS's tsql against vopa-server on a fresh drive C:: batches, every stored type read back as tsql
# shows it, errors with their numbers and lines; then through freetds.conf entries written as the README
# gives them: by port with encryption required, and (when UDP port 1434 of 127.0.0.1 is free, the only
# port FreeTDS asks) by instance name through the server's Browser, which tsql -L also lists.
#
# The expected outputs are what SQL Server gives for the same batches, as tsql prints it ("|" between
# columns, its greeting and prompts left out). tsql prints "(N rows affected)" after result sets only;
# the counts of INSERT, UPDATE and DELETE show in the rows read after them. The severity and state of
# each message are left out of the comparison: they are the engine's.
#
# Usage: tsql_test.sh VOPA_SERVER
set -uo pipefail
server_bin=$1
command -v tsql >/dev/null || { echo "tsql is missing: install freetds-bin (scripts/install-deps.sh)"; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
export VOPA_DRIVE_C=$work/drive_c
mkdir -p "$VOPA_DRIVE_C"
# tsql writes dates with English month names whatever the desk's language; the locale fixes the rest.
export LC_ALL=C.UTF-8
unset FREETDSCONF TDSPORT TDSVER TDSHOST
password='Segreta-1'
host=$(uname -n)
failures=0

# start_server NAME ARGS...: starts vopa-server on a free port; sets `port` once it listens. False when
# it stopped instead (its standard error is in $work/NAME.err).
start_server() {
  local name=$1
  shift
  VOPA_SA_PASSWORD=$password "$server_bin" --port 0 "$@" >"$work/$name.out" 2>"$work/$name.err" &
  local pid=$!
  pids+=("$pid")
  port=
  for _ in $(seq 300); do
    port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/$name.out")
    [[ -n $port ]] && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# tsql's rows without its greeting, its prompts ("1> 2> ") and the line its last prompt leaves.
clean_rows() {
  grep -v -e '^locale is ' -e '^locale charset is ' -e '^using default charset ' | sed -E 's/^([0-9]+> )+//' |
    grep -v '^$'
}
# tsql's messages: the server's name as SERVER, without severity and state, the text unindented; its own
# note of the database asked for left out.
clean_messages() {
  tr -d '\r' | grep -v '^Setting .* as default database in login packet$' | sed -E -e "s/ from $host( Line [0-9]+)?:\$/ from SERVER\\1:/" -e 's/ \(severity [0-9]+, state [0-9]+\)//' \
    -e 's/^\t//' | grep -v '^$'
}

check() {  # check WHAT EXPECTED ACTUAL
  if diff -u <(printf '%s\n' "$2") <(printf '%s\n' "$3") >"$work/diff"; then
    echo "ok: $1"
  else
    echo "FAIL: $1"
    sed 's/^/    /' "$work/diff"
    failures=$((failures + 1))
  fi
}

# session WHAT SQL EXPECTED_ROWS EXPECTED_MESSAGES TSQL_ARGUMENTS...
session() {
  local what=$1 sql=$2 rows=$3 messages=$4
  shift 4
  printf '%s\n' "$sql" | tsql -t '|' -U sa -P "$password" "$@" >"$work/rows" 2>"$work/messages"
  check "$what: rows" "$rows" "$(clean_rows <"$work/rows")"
  check "$what: messages" "$messages" "$(clean_messages <"$work/messages")"
}

if ! start_server default; then
  echo "FAIL: vopa-server did not start"
  cat "$work/default.err"
  exit 1
fi
default_port=$port
at=(-H 127.0.0.1 -p "$default_port")

session "every stored type and its NULL" "$(cat <<'EOF'
CREATE DATABASE Prova
go
USE Prova
go
CREATE TABLE tipi (i int, ti tinyint, si smallint, bi bigint, b bit, m money, sm smallmoney, d decimal(9,3),
  n numeric(5,0), f float, r real, dt datetime, sdt smalldatetime, c char(6), vc varchar(10), nc nchar(6),
  nvc nvarchar(10), t text, nt ntext, bn binary(4), vb varbinary(6))
INSERT INTO tipi VALUES (-2147483648, 255, -32768, 9223372036854775807, 1, 922337203685477.5807, -214748.3648,
  -123456.789, 99999, -2.5, 1.25, '2024-02-29T23:59:59.997', '2024-02-29T10:20:00', 'àè', 'perché €', N'città',
  N'€uro ĳ', 'testo è', N'note ò €', 0x0A0B, 0x00FF10)
INSERT INTO tipi VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
  NULL, NULL, NULL, NULL, NULL, NULL)
SELECT * FROM tipi ORDER BY i
SELECT CONVERT(varchar(23), dt, 121) AS dt121, CONVERT(varchar(16), sdt, 120) AS sdt120 FROM tipi WHERE dt IS NOT NULL
SELECT CONVERT(varchar(23), CAST('2024-02-29T23:59:59.999' AS datetime), 121) AS arrotondata,
  CAST('2024-02-29T10:20:30' AS smalldatetime) AS minuto
go
EOF
)" "$(cat <<'EOF'
i|ti|si|bi|b|m|sm|d|n|f|r|dt|sdt|c|vc|nc|nvc|t|nt|bn|vb
NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL
-2147483648|255|-32768|9223372036854775807|1|922337203685477.5807|-214748.3648|-123456.789|99999|-2.5|1.25|Feb 29 2024 11:59PM|Feb 29 2024 10:20AM|àè    |perché €|città |€uro ĳ|testo è|note ò €|0a0b0000|00ff10
(2 rows affected)
dt121|sdt120
2024-02-29 23:59:59.997|2024-02-29 10:20
(1 row affected)
arrotondata|minuto
2024-03-01 00:00:00.000|Feb 29 2024 10:21AM
(1 row affected)
EOF
)" "" "${at[@]}"

session "a batch of several statements" "$(cat <<'EOF'
CREATE TABLE conti (id int NOT NULL CONSTRAINT PK_conti PRIMARY KEY, nome nvarchar(20) NOT NULL, saldo money NULL)
INSERT INTO conti VALUES (1, N'Cassa', 100), (2, N'Banca', 250.5), (3, N'Crediti', 0)
SELECT COUNT(*) AS righe FROM conti
UPDATE conti SET saldo = saldo + 10 WHERE saldo < 200
DELETE FROM conti WHERE id = 3
SELECT id, nome, saldo FROM conti ORDER BY id
SELECT nome FROM conti WHERE saldo > 1000
go
EOF
)" "$(cat <<'EOF'
righe
3
(1 row affected)
id|nome|saldo
1|Cassa|110.0000
2|Banca|250.5000
(2 rows affected)
nome
EOF
)" "" "${at[@]}" -D Prova

session "errors with their numbers and lines" "$(cat <<'EOF'
SELECT 1 AS prima
SELECT * FROM nessuna
SELECT 2 AS dopo
go
INSERT INTO conti VALUES (1, N'Doppio', 0)
SELECT COUNT(*) AS righe FROM conti
go
SELECT id, manca FROM conti
go
CREATE TABLE conti (x int)
go
EOF
)" "$(cat <<'EOF'
prima
1
(1 row affected)
righe
2
(1 row affected)
EOF
)" "$(cat <<'EOF'
Msg 208 from SERVER Line 2:
"Invalid object name 'nessuna'."
Msg 2627 from SERVER Line 1:
"Violation of PRIMARY KEY constraint 'PK_conti'. Cannot insert duplicate key in object 'dbo.conti'. The duplicate key value is (1)."
Msg 3621 from SERVER Line 1:
"The statement has been terminated."
Msg 207 from SERVER Line 1:
"Invalid column name 'manca'."
Msg 2714 from SERVER Line 1:
"There is already an object named 'conti' in the database."
EOF
)" "${at[@]}" -D Prova

# The README's freetds.conf entry: host and port, TDS 7.4, UTF-8, encryption required.
cat >"$work/freetds.conf" <<EOF
[vopa]
    host = 127.0.0.1
    port = $default_port
    tds version = 7.4
    client charset = UTF-8
    encryption = require
EOF
export FREETDSCONF=$work/freetds.conf
session "through freetds.conf, encrypted" "$(cat <<'EOF'
SELECT nome FROM conti WHERE id = 2
SELECT N'attività' AS parola
go
EOF
)" "$(cat <<'EOF'
nome
Banca
(1 row affected)
parola
attività
(1 row affected)
EOF
)" "" -S vopa -D Prova

# A named instance found by its name: another server, with the Browser on 127.0.0.1:1434.
if start_server named --instance Ufficio --browser; then
  named_port=$port
  tsql -L -H 127.0.0.1 >"$work/list" 2>&1
  check "tsql -L lists the instance" "$(printf '%15s %s\n' ServerName "$host" InstanceName UFFICIO IsClustered No \
    Version 11.0.2100.0 tcp "$named_port")" "$(tr -d '\r' <"$work/list" | grep -v '^$')"
  cat >>"$work/freetds.conf" <<'EOF'
[ufficio]
    host = 127.0.0.1
    instance = UFFICIO
    tds version = 7.4
    client charset = UTF-8
    encryption = require
EOF
  session "through freetds.conf, by instance name" "$(cat <<'EOF'
SELECT COUNT(*) AS prova FROM master.dbo.sysdatabases WHERE name = 'Prova'
go
EOF
)" "$(cat <<'EOF'
prova
0
(1 row affected)
EOF
)" "" -S ufficio
elif grep -q "UDP port 1434" "$work/named.err"; then
  echo "skipped: the instance by name (UDP port 1434 of 127.0.0.1 is taken, and FreeTDS asks the Browser there only)"
else
  echo "FAIL: the server of the named instance did not start"
  cat "$work/named.err"
  failures=$((failures + 1))
fi

if ((failures > 0)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all tsql checks passed"
