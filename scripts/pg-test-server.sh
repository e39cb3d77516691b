#!/usr/bin/env bash
# A throw-away PostgreSQL server for the records tests.
#   pg-test-server.sh start STATE_DIR   initdb and start a server in a fresh temporary folder,
#                                       listening on a Unix socket only; writes its URL to
#                                       STATE_DIR/url and prints it
#   pg-test-server.sh stop STATE_DIR    stop that server and remove its folder
#   pg-test-server.sh pause STATE_DIR   stop that server, keeping its folder (an outage)
#   pg-test-server.sh resume STATE_DIR  start it again on the same socket
#   pg-test-server.sh stop-run TAG      stop every server started with DM_PGTEST_RUN=TAG
#                                       in the environment (the test command's own)
# A server never outlives what started it: its owner is the process that ran this script
# (DM_PGTEST_OWNER_PID, else the nearest ancestor that is not a shell: ctest, a test
# program), and a watcher of its own stops the server and removes its folder within a
# second or two of the owner's end, however it ended (killed midway included). start also
# stops a server left behind for the same STATE_DIR, or by an owner that is gone.
# The server never runs as root: as root it runs as the "postgres" system user (made as
# "dm-pgtest" when there is none). Without PostgreSQL installed, start says so and
# writes no URL, and the PostgreSQL cases of the tests are skipped.
set -euo pipefail

action=${1:-}
state=${2:-}
if [ -z "$action" ] || [ -z "$state" ]; then
  echo "usage: $0 start|stop|pause|resume STATE_DIR | stop-run TAG" >&2
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

# Every server's folder; each holds "owner" (PID and start time of its owner), "state"
# (its STATE_DIR) and "run" (DM_PGTEST_RUN when it was started).
data_folders() {
  local d
  for d in "${DM_PGTEST_TMP:-/tmp}"/dm-pgtest.*; do
    [ -f "$d/owner" ] && echo "$d"
  done
  return 0
}

# A process's start time (clock ticks after boot), so a PID used again is not taken for it.
start_time() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  local rest=${stat##*) }
  local fields
  read -r -a fields <<< "$rest"
  echo "${fields[19]}"
}

owner_alive() { # PID START_TIME
  [ "$(start_time "$1" 2>/dev/null)" = "$2" ]
}

# Stops the server of a folder (by its postmaster's PID if pg_ctl cannot) and removes it.
stop_data() {
  local data=$1
  if [ -d "$data/pgdata" ]; then
    if [ -n "$bindir" ]; then
      "${as_server_user[@]}" "$bindir/pg_ctl" -D "$data/pgdata" -m immediate -w -t 20 stop >/dev/null 2>&1 || true
    fi
    local pid
    pid=$(head -n 1 "$data/pgdata/postmaster.pid" 2>/dev/null || true)
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  local owned
  owned=$(cat "$data/state" 2>/dev/null || true)
  rm -rf -- "$data"
  # The STATE_DIR's files, when they still name this folder.
  if [ -n "$owned" ] && [ "$(cat "$owned/datadir" 2>/dev/null || true)" = "$data" ]; then
    rm -f -- "$owned/datadir" "$owned/url"
  fi
}

stop_server() {
  if [ -f "$state/datadir" ]; then
    stop_data "$(cat "$state/datadir")"
    rm -f -- "$state/datadir" "$state/url"
  fi
}

start_server() {
  "${as_server_user[@]}" "$bindir/pg_ctl" -D "$1/pgdata" -l "$1/server.log" -w -t 60 \
    -o "-c listen_addresses='' -k $1 -p 5432 -c fsync=off -c max_connections=40" start \
    >/dev/null || { cat "$1/server.log" >&2; exit 1; }
}

# The owner: DM_PGTEST_OWNER_PID, else the nearest ancestor that is not a shell or a
# wrapper that ends with it.
find_owner() {
  if [ -n "${DM_PGTEST_OWNER_PID:-}" ]; then
    echo "$DM_PGTEST_OWNER_PID"
    return
  fi
  local pid=$PPID comm
  while [ "$pid" -gt 1 ]; do
    comm=$(cat "/proc/$pid/comm" 2>/dev/null || true)
    case $comm in
      sh | bash | dash | zsh | env | timeout | nice | runuser | sudo) ;;
      *) break ;;
    esac
    pid=$(awk '{ sub(/.*\) /, ""); print $2 }' "/proc/$pid/stat" 2>/dev/null || echo 1)
  done
  echo "$pid"
}

case "$action" in
  start)
    mkdir -p "$state"
    state=$(cd "$state" && pwd)
    stop_server
    # Servers left behind for this STATE_DIR (its files lost) or by an owner that is gone.
    while IFS= read -r d; do
      read -r pid since < "$d/owner" || continue
      if [ "$(cat "$d/state" 2>/dev/null)" = "$state" ] || ! owner_alive "$pid" "$since"; then
        stop_data "$d"
      fi
    done < <(data_folders)
    if [ -z "$bindir" ]; then
      echo "pg-test-server: PostgreSQL is not installed; the PostgreSQL test cases will be skipped"
      exit 0
    fi
    owner=$(find_owner)
    since=$(start_time "$owner") || { echo "pg-test-server: no process $owner to own the server" >&2; exit 1; }
    data=$(mktemp -d "${DM_PGTEST_TMP:-/tmp}/dm-pgtest.XXXXXX")
    echo "$owner $since" > "$data/owner"
    echo "$state" > "$data/state"
    echo "${DM_PGTEST_RUN:-}" > "$data/run"
    echo "$data" > "$state/datadir"
    # The watcher, in a session of its own so an interrupt of the test run's terminal
    # does not end it before it has done its work, and with nothing of ctest's open.
    setsid bash "$0" watch "$data" </dev/null >/dev/null 2>&1 &
    if [ ${#as_server_user[@]} -gt 0 ]; then
      chown "$user" "$data"
    fi
    "${as_server_user[@]}" "$bindir/initdb" -D "$data/pgdata" -U dm_test -A trust -E UTF8 \
      --no-locale >"$data/initdb.log" 2>&1 || { cat "$data/initdb.log" >&2; stop_server; exit 1; }
    port=5432
    start_server "$data"
    "${as_server_user[@]}" "$bindir/createdb" -h "$data" -p "$port" -U dm_test records_test \
      || { stop_server; exit 1; }
    url="postgresql://dm_test@/records_test?host=$data&port=$port"
    echo "$url" > "$state/url"
    echo "$url"
    ;;
  watch)
    # Internal: waits for the owner to end (or the folder to go), then cleans up.
    data=$state
    read -r pid since < "$data/owner" || exit 0
    while [ -d "$data" ] && owner_alive "$pid" "$since"; do
      sleep 1
    done
    if [ -d "$data" ]; then
      stop_data "$data"
    fi
    ;;
  stop)
    stop_server
    ;;
  stop-run)
    while IFS= read -r d; do
      if [ "$(cat "$d/run" 2>/dev/null)" = "$state" ]; then
        stop_data "$d"
      fi
    done < <(data_folders)
    ;;
  pause)
    "${as_server_user[@]}" "$bindir/pg_ctl" -D "$(cat "$state/datadir")/pgdata" -m fast -w stop >/dev/null
    ;;
  resume)
    start_server "$(cat "$state/datadir")"
    ;;
  *)
    echo "usage: $0 start|stop|pause|resume STATE_DIR | stop-run TAG" >&2
    exit 2
    ;;
esac
