#!/usr/bin/env bash
# A team archive to try: a throwaway PostgreSQL server in a scratch folder, its
# schema made by `velmora-cli team init`, two demo laptops (two data folders)
# joined to it, and the demo window of laptop A.
#
#   scripts/team-demo.sh [run]   a fresh server and laptops, then laptop A's window;
#                                the server stops when the window closes
#   scripts/team-demo.sh stop    stops the server (to try working offline)
#   scripts/team-demo.sh start   starts it again
#
# Environment:
#   BUILD                          the build folder (default: build)
#   VELMORA_TEAM_DEMO_DIR          the scratch folder (default: $BUILD/team-demo)
#   VELMORA_TEAM_DEMO_KEEP=1       the server stays up when the window closes
#   VELMORA_TEAM_DEMO_NO_WINDOW=1  instead of the window, a walk on the command line:
#       both laptops download overlapping records from virtual splicers and sync,
#       the team archive holds each splice once; then the server stops, laptop A
#       downloads more and its sync fails with the rest waiting; the server starts,
#       and the rest arrives. Exits non-zero at the first step that goes wrong.
#
# The server runs as an unprivileged user (it refuses root: as root, `nobody`),
# on a Unix socket in the scratch folder (its administrator, trusted) and a TCP
# port on localhost with TLS, where the laptops log in as the office user `foreman`
# with a password kept in the scratch folder's pgpass file (PGPASSFILE), never in
# an address.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "$here" && mkdir -p "${BUILD:-build}" && cd "${BUILD:-build}" && pwd)
scratch=${VELMORA_TEAM_DEMO_DIR:-$BUILD/team-demo}
mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd)
# The server's folder, or where it links to: a folder the server's user can reach.
server_link=$scratch/server
server=$(readlink -f "$server_link")
export PGPASSFILE=$scratch/pgpass

say() { printf '== %s\n' "$*"; }
die() {
    printf 'team-demo: %s\n' "$*" >&2
    exit 1
}

pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -x "$pg_bin/pg_ctl" ] || die "PostgreSQL is not installed (make deps installs it)"

# The server's own user: nobody when we are root.
if [ "$(id -u)" = 0 ]; then
    as_server() { setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"; }
else
    as_server() { "$@"; }
fi

port() { cat "$server/port"; }
admin_uri() { echo "postgresql://velmora_admin@/velmora?host=$server&port=$(port)"; }
team_uri() {
    echo "postgresql://foreman@localhost:$(port)/velmora?sslmode=verify-full&sslrootcert=$server/ca.crt"
}
pg_ctl_start() {
    as_server "$pg_bin/pg_ctl" start -w -s -D "$server/data" -l "$server/server.log" \
        -o "-p $(port) -k $server -c listen_addresses=localhost -c ssl=on \
            -c ssl_cert_file=$server/server.crt -c ssl_key_file=$server/server.key"
}
pg_ctl_stop() { as_server "$pg_bin/pg_ctl" stop -w -s -m fast -D "$server/data"; }
running() { [ -d "$server/data" ] && as_server "$pg_bin/pg_ctl" status -D "$server/data" >/dev/null 2>&1; }
admin_sql() { "$pg_bin/psql" -X -q -v ON_ERROR_STOP=1 -d "$1" -c "$2"; }

# initdb in the scratch folder, a CA and the server's certificate for localhost.
make_server() {
    if running; then pg_ctl_stop; fi
    rm -rf "$server" "$server_link" "$scratch/laptop-a" "$scratch/laptop-b" "$PGPASSFILE"
    server=$server_link
    mkdir -p "$server"
    if [ "$(id -u)" = 0 ]; then
        chown nobody:nogroup "$server"
        # The server's user must reach its folder: not so under a private home.
        if ! as_server test -w "$server"; then
            rmdir "$server"
            server=$(mktemp -d /tmp/velmora-team-demo-XXXXXX)
            chown nobody:nogroup "$server"
            ln -s "$server" "$server_link"
        fi
    fi
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' \
        >"$server/port.new"
    mv "$server/port.new" "$server/port"
    (
        cd "$server"
        as_server openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=velmora demo CA" \
            -keyout ca.key -out ca.crt 2>/dev/null
        as_server openssl req -newkey rsa:2048 -nodes -subj /CN=localhost \
            -keyout server.key -out server.csr 2>/dev/null
        printf 'subjectAltName=DNS:localhost\n' | as_server tee san.ext >/dev/null
        as_server openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial \
            -days 30 -extfile san.ext -out server.crt 2>/dev/null
        as_server chmod 0600 server.key
    )
    as_server "$pg_bin/initdb" -D "$server/data" -U velmora_admin --auth-local=trust \
        --auth-host=scram-sha-256 -E UTF8 --locale=C --no-sync >"$scratch/initdb.log"
    printf 'local all all trust\nhostssl all all 127.0.0.1/32 scram-sha-256\nhostssl all all ::1/128 scram-sha-256\n' |
        as_server tee "$server/data/pg_hba.conf" >/dev/null
    pg_ctl_start
    admin_sql "postgresql://velmora_admin@/postgres?host=$server&port=$(port)" \
        "CREATE DATABASE velmora"
}

# velmora-cli in a laptop's data folder (its working folder, which holds par/).
cli() {
    local laptop=$1
    shift
    (cd "$scratch/$laptop" && "$BUILD/velmora-cli" "$@")
}

make_team() {
    say "team init"
    (cd "$scratch" && "$BUILD/velmora-cli" team init "$(admin_uri)")
    local password
    password=$(head -c 18 /dev/urandom | base64 | tr '+/' 'xy')
    admin_sql "$(admin_uri)" "CREATE ROLE foreman LOGIN PASSWORD '$password'; GRANT velmora_office TO foreman"
    (umask 077 && printf 'localhost:%s:*:foreman:%s\n' "$(port)" "$password" >"$PGPASSFILE")
    for laptop in laptop-a laptop-b; do
        mkdir -p "$scratch/$laptop/par"
        cp "$here"/par/*.ini "$scratch/$laptop/par/"
        say "$laptop: team join"
        cli "$laptop" team join "$(team_uri)"
    done
}

# A virtual splicer holding `records` records for the duration of one command:
# its port in $sim_port.
sim_pid=""
sim_fd=""
start_sim() {
    exec {sim_fd}< <(exec "$BUILD/velmora-sim" --fast --records "$1" 2>/dev/null)
    sim_pid=$!
    read -r -t 20 -u "$sim_fd" sim_port || die "the virtual splicer did not start"
}
stop_sim() {
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
    sim_pid=""
    if [ -n "$sim_fd" ]; then exec {sim_fd}<&-; fi
    sim_fd=""
}

# A laptop downloads the records of a splicer holding `records`, and images.
download() {
    local laptop=$1 records=$2
    shift 2
    start_sim "$records"
    cli "$laptop" --port "$sim_port" history >/dev/null
    for image in "$@"; do cli "$laptop" --port "$sim_port" image "$image" >/dev/null; done
    stop_sim
    say "$laptop: downloaded $records records, images $*"
}

expect_equal() {
    [ "$2" = "$3" ] || die "$1: $2, expected $3"
    echo "   $1: $2"
}
server_count() { admin_sql "$(admin_uri)" "COPY (SELECT count(*) FROM velmora.$1) TO STDOUT"; }

# Each laptop's splices, sent once; offline work arriving once the server is back.
walk() {
    download laptop-a 150 1 2
    download laptop-b 200 2 3
    for laptop in laptop-a laptop-b; do
        say "$laptop: team sync"
        cli "$laptop" team sync
    done
    say "laptop-b: archive list --team"
    local listed
    listed=$(cli laptop-b archive list --team)
    expect_equal "splices listed" "$(wc -l <<<"$listed")" 200
    expect_equal "different splices listed" "$(sort -u <<<"$listed" | wc -l)" 200
    expect_equal "records on the server" "$(server_count records)" 200
    expect_equal "images on the server" "$(server_count images)" 3

    say "laptops A and B name their splices job North (150 of them on both), and send"
    for laptop in laptop-a laptop-b laptop-a; do
        cli "$laptop" archive tag North --all >/dev/null
        cli "$laptop" team sync >/dev/null
    done
    say "laptop-a: report --team --job North"
    cli laptop-a report --team -o "$scratch/north.html" --job North
    # The splice table: its header row, then a row per splice.
    local rows
    rows=$(sed -n '/<table class="splices">/,/<\/table>/p' "$scratch/north.html" | grep -o '<tr' | wc -l)
    expect_equal "splices in the team's job report" "$((rows - 1))" 200

    say "the server stops; laptop A works on"
    pg_ctl_stop
    download laptop-a 260 4
    say "laptop-a: team sync (the server is down)"
    local status=0 told
    told=$(cli laptop-a team sync 2>&1) || status=$?
    printf '%s\n' "$told"
    expect_equal "exit status of team sync" "$status" 1
    # 60 new ones: the 50 of B's that A read with job North are the server's already.
    grep -q "60 records" <<<"$told" || die "team sync did not say that 60 records wait"
    cli laptop-a team status

    say "the server starts again"
    pg_ctl_start
    say "laptop-a: team sync"
    cli laptop-a team sync
    expect_equal "splices listed" "$(cli laptop-a archive list --team | wc -l)" 260
    expect_equal "records on the server" "$(server_count records)" 260
    expect_equal "images on the server" "$(server_count images)" 4
    cli laptop-a team status
    say "the walk went as it should"
}

window() {
    cat <<EOF

The team archive runs: $(team_uri)
  the office user foreman's password is in $PGPASSFILE (PGPASSFILE; never in the address)
  administrator: psql "$(admin_uri)"
Laptop A's window opens now: Connect on the Setting page, download on the Result page;
the row at the top of the Archive tab shows what waits, sends it (Send now) and shows
This PC or Team. Laptop B's window, from another terminal:
  cd $scratch/laptop-b && PGPASSFILE=$PGPASSFILE $BUILD/velmora --demo
On the command line, in either laptop's folder (team sync, team status, archive list --team):
  cd $scratch/laptop-b && PGPASSFILE=$PGPASSFILE $BUILD/velmora-cli team sync
Working offline: stop the server, work on, start it, send again:
  make team-demo-stop      make team-demo-start
  (or VELMORA_TEAM_DEMO_DIR=$scratch BUILD=$BUILD bash $here/scripts/team-demo.sh stop|start)
The server stops when this window closes$([ "${VELMORA_TEAM_DEMO_KEEP:-}" = 1 ] && echo " (not: VELMORA_TEAM_DEMO_KEEP=1)").

EOF
    (cd "$scratch/laptop-a" && "$BUILD/velmora" --demo)
}

case "${1:-run}" in
    run)
        say "a PostgreSQL server in $server_link"
        make_server
        if [ "${VELMORA_TEAM_DEMO_KEEP:-}" != 1 ]; then
            trap 'stop_sim 2>/dev/null; if running; then pg_ctl_stop; fi' EXIT
            trap 'exit 130' INT TERM HUP
        fi
        make_team
        if [ "${VELMORA_TEAM_DEMO_NO_WINDOW:-}" = 1 ]; then walk; else window; fi
        ;;
    stop)
        running || die "no team demo server runs in $server"
        pg_ctl_stop
        echo "the team demo server stopped; start it with: make team-demo-start"
        ;;
    start)
        [ -d "$server/data" ] || die "no team demo server in $server: make team-demo makes one"
        running || pg_ctl_start
        echo "the team demo server runs on localhost:$(port)"
        ;;
    *)
        die "usage: team-demo.sh [run|stop|start]"
        ;;
esac
