#!/usr/bin/env bash
# A private PostgreSQL server for the tests of archives on a server.
#
#   pg-cluster.sh start DIR   makes (or reuses) a server with its data in DIR/data and its socket in
#                             DIR, and prints its address: postgresql://carteo@<DIR encoded>/postgres
#   pg-cluster.sh stop DIR    stops it and removes DIR
#
# The server listens on its socket only (no TCP), trusts the local user "carteo", and trades
# durability for speed: it holds test archives only. PostgreSQL refuses to run as root, so under
# root it runs as "nobody".
set -euo pipefail

me="pg-cluster.sh"
fail() {
  echo "$me: $*" >&2
  exit 1
}

[ $# -eq 2 ] || fail "uso: $me start|stop CARTELLA"
command="$1"
case "$2" in
  /*) dir="$2" ;;
  *) dir="$PWD/$2" ;;
esac
dir="${dir%/}"
data="$dir/data"
# Marks a folder as one of ours, so that "stop" never removes a folder it did not make.
marker="$dir/.carteo-pg-cluster"

case "$dir" in
  *"'"* | *'"'* | *'\'* | *' '*) fail "la cartella non può contenere apici, barre inverse o spazi: $dir" ;;
esac
# The socket "DIR/.s.PGSQL.5432" must fit in the 107 bytes of a Unix socket's name.
socket="$dir/.s.PGSQL.5432"
if [ "$(printf %s "$socket" | LC_ALL=C wc -c)" -gt 107 ]; then
  fail "cartella troppo lunga per il socket del server (al massimo 107 byte per $socket): scegliere una cartella più corta"
fi

# The server's programs: PG_BIN when given, else the newest installed version, else PATH.
find_bin() {
  local name="$1" candidate
  if [ -n "${PG_BIN:-}" ]; then
    candidate="$PG_BIN/$name"
  else
    candidate="$(ls -d /usr/lib/postgresql/*/bin/"$name" 2>/dev/null | sort -V | tail -n 1 || true)"
    [ -n "$candidate" ] || candidate="$(command -v "$name" || true)"
  fi
  [ -n "$candidate" ] && [ -x "$candidate" ] ||
    fail "manca $name di PostgreSQL: installare il pacchetto postgresql-15 (apt-get install postgresql-15 postgresql-contrib)"
  echo "$candidate"
}

# Runs a server program as the server's user.
as_server() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

encode() {
  local s="$1" out="" c i
  local LC_ALL=C
  for ((i = 0; i < ${#s}; i++)); do
    c="${s:i:1}"
    case "$c" in
      [A-Za-z0-9._~-]) out+="$c" ;;
      *) out+="$(printf '%%%02X' "'$c")" ;;
    esac
  done
  echo "$out"
}

address() {
  echo "postgresql://carteo@$(encode "$dir")/postgres"
}

# The server's process is there and not a killed one waiting to be reaped (which pg_ctl would still
# take for a running server).
postmaster_alive() {
  local pid state
  pid="$(head -n 1 "$data/postmaster.pid" 2>/dev/null || true)"
  [ -n "$pid" ] && [ -r "/proc/$pid/stat" ] || return 1
  state="$(sed 's/^.*) //' "/proc/$pid/stat" | cut -d' ' -f1)"
  [ "$state" != Z ] && [ "$state" != X ]
}

running() {
  postmaster_alive && as_server "$pg_ctl" status -D "$data" >/dev/null 2>&1
}

answers() {
  "$pg_isready" -q -h "$dir" -U carteo -d postgres >/dev/null 2>&1
}

server_processes() {
  local pattern
  pattern="$(readlink -f "$data" | sed 's/[][*?\\]/\\&/g')"
  { find /proc -mindepth 2 -maxdepth 2 -name cwd -lname "$pattern" 2>/dev/null || true; } | cut -d/ -f3
}

# Stops whatever is left of a server in DIR, then removes DIR.
remove_cluster() {
  if postmaster_alive; then
    as_server "$pg_ctl" stop -D "$data" -m immediate -w -t 30 >/dev/null 2>&1 || true
  fi
  # A killed postmaster leaves its children for a moment (they end once they see it gone), and a new
  # server cannot start on their shared memory meanwhile. Every server process works in its data
  # folder, which tells them apart from any other server's.
  local left
  for i in $(seq 50); do
    left="$(server_processes)"
    [ -n "$left" ] || break
    [ "$i" -lt 50 ] || kill -9 $left 2>/dev/null || true
    sleep 0.1
  done
  rm -rf "$dir"
}

make_cluster() {
  mkdir -p "$dir"
  touch "$marker"
  if [ "$(id -u)" -eq 0 ]; then
    chown nobody "$dir"
    # Every folder above DIR must let "nobody" through (a checkout under /root does not).
    runuser -u nobody -- test -w "$dir" ||
      fail "l'utente nobody, che fa girare il server, non raggiunge $dir: scegliere una cartella fuori da cartelle private (per esempio non sotto /root)"
  fi
  as_server "$initdb" -D "$data" -U carteo --auth=trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 ||
    fail "initdb non riuscito: $(tail -n 5 "$dir/initdb.log")"
  cat >>"$data/postgresql.conf" <<EOF

# A private server for the tests: socket only, no durability.
listen_addresses = ''
unix_socket_directories = '$dir'
max_connections = 100
shared_buffers = 32MB
fsync = off
synchronous_commit = off
full_page_writes = off
EOF
}

start_cluster() {
  as_server "$pg_ctl" start -D "$data" -l "$dir/server.log" -w -t 60 >/dev/null 2>&1 ||
    fail "il server non si avvia: $(tail -n 5 "$dir/server.log" 2>/dev/null)"
  for _ in $(seq 100); do
    answers && return 0
    sleep 0.1
  done
  fail "il server non risponde su $dir"
}

case "$command" in
  start)
    pg_ctl="$(find_bin pg_ctl)"
    initdb="$(find_bin initdb)"
    pg_isready="$(find_bin pg_isready)"
    if [ -e "$dir" ] && [ ! -e "$marker" ] && [ -n "$(ls -A "$dir")" ]; then
      fail "la cartella $dir non è vuota e non è di un server di prova"
    fi
    if running && answers; then
      address
      exit 0
    fi
    # What a killed run left behind (or nothing at all): made anew.
    [ ! -e "$dir" ] || remove_cluster
    make_cluster
    start_cluster
    address
    ;;
  stop)
    [ -e "$dir" ] || exit 0
    [ -e "$marker" ] || fail "la cartella $dir non è di un server di prova: non la tocco"
    pg_ctl="$(find_bin pg_ctl)"
    remove_cluster
    ;;
  *)
    fail "uso: $me start|stop CARTELLA"
    ;;
esac
