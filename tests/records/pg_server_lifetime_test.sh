#!/usr/bin/env bash
# The throw-away PostgreSQL servers never outlive their run: a server whose owner is
# killed midway is stopped and its folder removed by its watcher; a start finds the
# server an earlier start left for the same state folder (its files lost) and stops it;
# stop-run stops every server of a run. Works in a folder of its own, so no other run's
# servers are touched.   pg_server_lifetime_test.sh PG_TEST_SERVER_SCRIPT
set -euo pipefail
script=${1:?usage: pg_server_lifetime_test.sh PG_TEST_SERVER_SCRIPT}

fail() { echo "FAIL: $*" >&2; exit 1; }
postgres_of() { pgrep -f -- "postgres -D $1/pgdata" > /dev/null; }
# Waits up to 20 s for a folder and its server to be gone.
gone_within() {
  local i
  for ((i = 0; i < 40; i++)); do
    if [ ! -d "$1" ] && ! postgres_of "$1"; then return 0; fi
    sleep 0.5
  done
  return 1
}

export DM_PGTEST_TMP
DM_PGTEST_TMP=$(mktemp -d /tmp/dm-pgl.XXXXXX)
chmod 755 "$DM_PGTEST_TMP" # the server's user must reach its folder
export DM_PGTEST_RUN="lifetime-$$"
owners=()
cleanup() {
  bash "$script" stop-run "$DM_PGTEST_RUN" > /dev/null 2>&1 || true
  for o in "${owners[@]}"; do kill -9 "$o" 2> /dev/null || true; done
  rm -rf "$DM_PGTEST_TMP"
}
trap cleanup EXIT

start() { # STATE: starts a server owned by a new process of its own; its folder in $folder
  local owner
  owner=$(sleep 600 > /dev/null 2>&1 & echo $!) # not a job of ours: killed without a word
  owners+=("$owner")
  folder=""
  DM_PGTEST_OWNER_PID=$owner bash "$script" start "$1" > /dev/null
  folder=$(cat "$1/datadir" 2> /dev/null || true)
}

start "$DM_PGTEST_TMP/state-a"
[ -n "$folder" ] || { echo "PostgreSQL is not installed: skipped"; exit 0; }
a=$folder
start "$DM_PGTEST_TMP/state-b"
b=$folder
postgres_of "$a" && postgres_of "$b" || fail "the servers did not start"

# The owner of a killed with no chance to clean up: its watcher stops a, b stays.
kill -9 "${owners[0]}"
gone_within "$a" || fail "a server whose owner was killed still runs or left $a"
[ ! -e "$DM_PGTEST_TMP/state-a/url" ] || fail "the state files of a stayed"
postgres_of "$b" || fail "a server whose owner lives was stopped"

# b's state files lost, as after a build folder was cleaned: the next start there finds
# b and stops it.
rm -f "$DM_PGTEST_TMP/state-b/datadir" "$DM_PGTEST_TMP/state-b/url"
start "$DM_PGTEST_TMP/state-b"
c=$folder
gone_within "$b" || fail "a start did not stop the server left for its state folder"
postgres_of "$c" || fail "the new server does not run"

# The test command's trap: every server of the run.
bash "$script" stop-run "$DM_PGTEST_RUN"
gone_within "$c" || fail "stop-run left $c"
[ ! -e "$DM_PGTEST_TMP/state-b/url" ] || fail "stop-run left the state files"
[ -z "$(ls -d "$DM_PGTEST_TMP"/dm-pgtest.* 2> /dev/null)" ] || fail "server folders stayed"
echo "every server stopped, every folder removed"
