#!/bin/bash
# A throwaway PostgreSQL server for the record's tests: its own data folder, a Unix socket in
# it, no TCP port; run as the user given (root may not run it). With tls, it listens on
# 127.0.0.1 at PORT as well, there only over TLS and with the password PASSWORD, and shows a
# certificate for "localhost" signed by a throwaway authority (DIR/root.crt).
#   pg_server.sh start DIR USER [tls PORT PASSWORD]   prints the connection string
#   pg_server.sh stop DIR USER
set -euo pipefail
action=$1 dir=$2 user=$3
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bin/initdb" ] || { echo "no PostgreSQL server installed" >&2; exit 77; }
as_user() {
  if [ "$(id -u)" = 0 ]; then runuser -u "$user" -- "$@"; else "$@"; fi
}
# The authority and the server's certificate, made once for the data folder.
make_certificates() {
  local data=$1
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=kelvarin test authority" \
    -keyout "$dir/root.key" -out "$dir/root.crt" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" \
    -keyout "$data/server.key" -out "$dir/server.csr" 2>/dev/null
  openssl x509 -req -in "$dir/server.csr" -CA "$dir/root.crt" -CAkey "$dir/root.key" \
    -CAcreateserial -days 2 -extfile <(echo "subjectAltName=DNS:localhost") \
    -out "$data/server.crt" 2>/dev/null
  chmod 600 "$data/server.key"
  [ "$(id -u)" = 0 ] && chown "$user" "$data/server.key" "$data/server.crt"
  return 0
}
case $action in
  start)
    mode=${4:-} port=${5:-} password=${6:-}
    mkdir -p "$dir"
    [ "$(id -u)" = 0 ] && chown "$user" "$dir"
    if [ ! -f "$dir/data/PG_VERSION" ]; then
      # -N: nothing synced to the disk, so that a test's server weighs little on the tests
      # running beside it.
      as_user "$bin/initdb" -N -D "$dir/data" -U kelvarin --auth=trust >"$dir/initdb.log" 2>&1
      if [ "$mode" = tls ]; then
        make_certificates "$dir/data"
        printf 'local all all trust\nhostssl all all 127.0.0.1/32 scram-sha-256\n' \
          >"$dir/data/pg_hba.conf"
      fi
    fi
    options="-k $dir -c listen_addresses= -c fsync=off"
    [ "$mode" = tls ] && options="-k $dir -c listen_addresses=127.0.0.1 -c port=$port \
      -c ssl=on -c fsync=off"
    as_user "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 -o "$options" start \
      >/dev/null
    if [ "$mode" = tls ]; then
      as_user "$bin/psql" -q -h "$dir" -p "$port" -U kelvarin -d postgres \
        -c "ALTER ROLE kelvarin PASSWORD '$password'" >/dev/null
      echo "host=$dir port=$port dbname=postgres user=kelvarin"
    else
      echo "host=$dir dbname=postgres user=kelvarin"
    fi
    ;;
  stop)
    as_user "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
    ;;
  *)
    echo "usage: $0 start|stop DIR USER [tls PORT PASSWORD]" >&2
    exit 2
    ;;
esac
