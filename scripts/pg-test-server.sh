#!/usr/bin/env bash
# A throw-away PostgreSQL server for the records tests.
#   pg-test-server.sh start STATE_DIR   initdb and start a server in a fresh temporary folder,
#                                       listening on a Unix socket only; writes its URL to
#                                       STATE_DIR/url and prints it
#   pg-test-server.sh stop STATE_DIR    stop that server and remove its folder
#   pg-test-server.sh pause STATE_DIR   stop that server, keeping its folder (an outage)
#   pg-test-server.sh resume STATE_DIR  start it again on the same socket
# The server never runs as root: as root it runs as the "postgres" system user (made as
# "dm-pgtest" when there is none). Without PostgreSQL installed, start says so and
# writes no URL, and the PostgreSQL cases of the tests are skipped.
set -euo pipefail

action=${1:-}
state=${2:-}
if [ -z "$action" ] || [ -z "$state" ]; then
  echo "usage: $0 start|stop|pause|resume STATE_DIR" >&2
  exit 2
fi

bindir=""
for d in /usr/lib/postgresql/*/bin; do
  [ -x "$d/initdb" ] && bindir=$d
done
if [ -z "$bindir" ] && command -v initdb >/dev/null 2>&1; then
  bindir=$(dirname "$(command -v initdb)")
fi

as_server_user=()
if [ "$(id -u)" -eq 0 ]; then
  user=postgres
  if ! id "$user" >/dev/null 2>&1; then
    user=dm-pgtest
    id "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
  fi
  as_server_user=(runuser -u "$user" --)
fi

stop_server() {
  [ -f "$state/datadir" ] || return 0
  local data
  data=$(cat "$state/datadir")
  if [ -d "$data/pgdata" ]; then
    "${as_server_user[@]}" "$bindir/pg_ctl" -D "$data/pgdata" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf -- "$data"
  rm -f -- "$state/datadir" "$state/url"
}

start_server() {
  "${as_server_user[@]}" "$bindir/pg_ctl" -D "$1/pgdata" -l "$1/server.log" -w -t 60 \
    -o "-c listen_addresses='' -k $1 -p 5432 -c fsync=off -c max_connections=40" start \
    >/dev/null || { cat "$1/server.log" >&2; exit 1; }
}

case "$action" in
  start)
    mkdir -p "$state"
    stop_server
    if [ -z "$bindir" ]; then
      echo "pg-test-server: PostgreSQL is not installed; the PostgreSQL test cases will be skipped"
      exit 0
    fi
    data=$(mktemp -d /tmp/dm-pgtest.XXXXXX)
    echo "$data" > "$state/datadir"
    if [ ${#as_server_user[@]} -gt 0 ]; then
      chown "$user" "$data"
    fi
    "${as_server_user[@]}" "$bindir/initdb" -D "$data/pgdata" -U dm_test -A trust -E UTF8 \
      --no-locale >"$data/initdb.log" 2>&1 || { cat "$data/initdb.log" >&2; exit 1; }
    port=5432
    start_server "$data"
    "${as_server_user[@]}" "$bindir/createdb" -h "$data" -p "$port" -U dm_test records_test
    url="postgresql://dm_test@/records_test?host=$data&port=$port"
    echo "$url" > "$state/url"
    echo "$url"
    ;;
  stop)
    stop_server
    ;;
  pause)
    "${as_server_user[@]}" "$bindir/pg_ctl" -D "$(cat "$state/datadir")/pgdata" -m fast -w stop >/dev/null
    ;;
  resume)
    start_server "$(cat "$state/datadir")"
    ;;
  *)
    echo "usage: $0 start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
