#!/bin/bash
# A throwaway PostgreSQL server for the record's tests: its own data folder, a Unix socket in
# it, no TCP port; run as the user given (root may not run it).
#   pg_server.sh start DIR USER   prints the connection string
#   pg_server.sh stop DIR USER
#   pg_server.sh restart DIR USER
set -euo pipefail
action=$1 dir=$2 user=$3
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bin/initdb" ] || { echo "no PostgreSQL server installed" >&2; exit 77; }
as_user() {
  if [ "$(id -u)" = 0 ]; then runuser -u "$user" -- "$@"; else "$@"; fi
}
case $action in
  start)
    mkdir -p "$dir"
    [ "$(id -u)" = 0 ] && chown "$user" "$dir"
    if [ ! -f "$dir/data/PG_VERSION" ]; then
      # -N: nothing synced to the disk, so that a test's server weighs little on the tests
      # running beside it.
      as_user "$bin/initdb" -N -D "$dir/data" -U kelvarin --auth=trust >"$dir/initdb.log" 2>&1
    fi
    as_user "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
      -o "-k $dir -c listen_addresses= -c fsync=off" start >/dev/null
    echo "host=$dir dbname=postgres user=kelvarin"
    ;;
  stop)
    as_user "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
    ;;
  *)
    echo "usage: $0 start|stop DIR USER" >&2
    exit 2
    ;;
esac
