#!/usr/bin/env bash
# FreeTDS's tsql against vopa-server on a fresh drive C:, through freetds.conf entries written as the
# README gives them: by port with encryption required, and (when UDP port 1434 of 127.0.0.1 is free,
# the only port FreeTDS asks) by instance name through the server's Browser, which tsql -L also lists.
# (Every type, batches and errors through the wire: ServerTest, DispatchTest and the conformance files.)
#
# The expected outputs are what SQL Server gives for the same batches, as tsql prints it ("|" between
# columns, its greeting and prompts left out).
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
check() {  # check WHAT EXPECTED ACTUAL
  if diff -u <(printf '%s\n' "$2") <(printf '%s\n' "$3") >"$work/diff"; then
    echo "ok: $1"
  else
    echo "FAIL: $1"
    sed 's/^/    /' "$work/diff"
    failures=$((failures + 1))
  fi
}

# session WHAT SQL EXPECTED_ROWS TSQL_ARGUMENTS...: the rows as expected, and no message.
session() {
  local what=$1 sql=$2 rows=$3
  shift 3
  printf '%s\n' "$sql" | tsql -t '|' -U sa -P "$password" "$@" >"$work/rows" 2>"$work/messages"
  check "$what: rows" "$rows" "$(clean_rows <"$work/rows")"
  check "$what: messages" "" "$(tr -d '\r' <"$work/messages" | grep -v '^$')"
}

if ! start_server default; then
  echo "FAIL: vopa-server did not start"
  cat "$work/default.err"
  exit 1
fi
default_port=$port

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
CREATE DATABASE Prova
go
SELECT N'attività' AS parola
go
EOF
)" "$(cat <<'EOF'
parola
attività
(1 row affected)
EOF
)" -S vopa

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
)" -S ufficio
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
