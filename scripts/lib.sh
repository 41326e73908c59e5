# Helpers shared by scripts/test and scripts/demo. Source this file, do not run it.
#
# kalimo_install_packages [program]  install the Debian packages the build, the tests and the demo need
#                           ("program": only what building and running the station needs)
# kalimo_build PRESET [TARGET...]  configure and build one CMake preset (build/PRESET), or some targets
# kalimo_db_start DIR [OPT...]  start a private MariaDB with its data under DIR, on loopback and a free
#                           port; any further arguments are extra mariadbd options (e.g. --max-connections=3000)
# kalimo_db_stop            stop that server (safe to call twice, or when it never started)
# kalimo_db_trap            stop the server on every exit path of the calling script
# kalimo_db_load DB FILE... (re)create database DB, load the SQL files into it, then give the station
#                           account and the staff stations' account (the roles of db/station_account.sql
#                           and db/staff_account.sql) their rights in it
# kalimo_cluster_start DIR [OPT...]  start a private three-node Galera cluster (the nodes as the mysql
#                           account) behind HAProxy, all on loopback, data under DIR; further arguments
#                           are extra mariadbd options of every node
# kalimo_cluster_stop       stop it (safe to call twice, or when it never started); kalimo_db_trap
#                           stops it too
# kalimo_on_cluster CMD...  run CMD with the test variables pointing at the cluster's balancer
# kalimo_tls_make           make a certificate authority and a server certificate for 127.0.0.1 in a
#                           folder of their own (removed by kalimo_db_trap): KALIMO_TLS_OPTIONS holds the
#                           mariadbd options that offer TLS with them, KALIMO_TEST_DB_AUTHORITY the
#                           authority's file, which a station verifies the server against

# What building the station and running it against a private server needs (scripts/demo)...
KALIMO_PROGRAM_PACKAGES=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
    libmariadb-dev mariadb-server mariadb-client libxcb1-dev
    xvfb xauth imagemagick fonts-dejavu-core
)
# ...and what the checks need besides: tests, benchmarks, package, screenshots, the Windows layer.
KALIMO_PACKAGES=(
    "${KALIMO_PROGRAM_PACKAGES[@]}"
    libgtest-dev libgmock-dev libbenchmark-dev
    x11-apps xdotool x11-utils x11-xserver-utils openbox
    dpkg-dev desktop-file-utils libglib2.0-bin adduser openssl
    g++-mingw-w64-x86-64 wine wine64 clang-format
    galera-4 haproxy rsync
    dbus-daemon at-spi2-core python3-dbus python3-gi
)

KALIMO_SCRIPTS="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

kalimo_log() {
    printf '[kalimo] %s\n' "$*" >&2
}

kalimo_as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo "$@"
    fi
}

kalimo_install_packages() {
    local missing=() pkg wanted=("${KALIMO_PACKAGES[@]}")
    if [ "${1:-}" = program ]; then
        wanted=("${KALIMO_PROGRAM_PACKAGES[@]}")
    fi
    for pkg in "${wanted[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        return 0
    fi
    kalimo_log "installing: ${missing[*]}"
    kalimo_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    kalimo_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
}

kalimo_build() {
    local preset="$1"
    shift
    local targets=()
    if [ "$#" -gt 0 ]; then
        targets=(--target "$@")
    fi
    cmake --preset "$preset"
    cmake --build --preset "$preset" -j2 "${targets[@]}"
}

# A TCP port nobody listens on right now. The server may still lose a race for it, so
# kalimo_db_start retries with another one.
kalimo_free_port() {
    if command -v python3 >/dev/null 2>&1; then
        python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()' && return 0
    fi
    local port tries=0
    while [ "$tries" -lt 200 ]; do
        port=$((20000 + RANDOM % 40000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return 0
        fi
        tries=$((tries + 1))
    done
    return 1
}

kalimo_pid_alive() {
    [ -n "${1:-}" ] && kill -0 "$1" 2>/dev/null
}

kalimo_db_sql() {
    # Runs SQL as the server's root user through the private socket.
    mariadb --no-defaults --socket="$KALIMO_DB_SOCKET" --user=root "$@"
}

kalimo_db_start() {
    local dir="${1:?kalimo_db_start needs a directory}"
    shift
    local server_options=("$@")
    mkdir -p "$dir"
    dir="$(cd "$dir" && pwd)"
    local datadir="$dir/data"
    local pidfile="$dir/mysqld.pid"
    local errlog="$dir/error.log"
    local sock="$dir/mysqld.sock"
    # Unix socket paths are limited to about 107 bytes: a deep checkout falls back to /tmp.
    if [ "${#sock}" -gt 100 ]; then
        sock="$(mktemp -d /tmp/kalimo-db.XXXXXX)/mysqld.sock"
    fi
    local user
    user="$(id -un)"

    # A server left behind by an interrupted run holds the data directory: stop it first.
    if [ -f "$pidfile" ] && kalimo_pid_alive "$(cat "$pidfile" 2>/dev/null)"; then
        kalimo_log "stopping a server left running in $dir"
        KALIMO_DB_DIR="$dir" KALIMO_DB_SOCKET="$(cat "$dir/socket.path" 2>/dev/null || echo "$sock")" kalimo_db_stop
    fi

    if [ ! -d "$datadir/mysql" ]; then
        rm -rf "$datadir"
        kalimo_log "initialising MariaDB data in $datadir"
        if ! mariadb-install-db --no-defaults --auth-root-authentication-method=normal \
            --skip-test-db --datadir="$datadir" --user="$user" >"$dir/install.log" 2>&1; then
            cat "$dir/install.log" >&2
            return 1
        fi
    fi

    local extra=()
    if [ "$(id -u)" -eq 0 ]; then
        extra+=(--user=root)
    fi

    local attempt port pid waited
    for attempt in 1 2 3; do
        port="$(kalimo_free_port)" || {
            kalimo_log "no free TCP port found"
            return 1
        }
        rm -f "$sock" "$pidfile"
        : >"$errlog"
        # The stations' text is Windows-1252, which MariaDB calls latin1. The server keeps its
        # default (strict) sql_mode, as a room's server would; the station relaxes its own sessions.
        mariadbd --no-defaults "${extra[@]}" \
            --datadir="$datadir" --socket="$sock" --pid-file="$pidfile" \
            --port="$port" --bind-address=127.0.0.1 --skip-name-resolve \
            --character-set-server=latin1 --collation-server=latin1_swedish_ci \
            --innodb-buffer-pool-size=64M --innodb-log-file-size=16M \
            --log-error="$errlog" "${server_options[@]}" </dev/null >/dev/null 2>&1 &
        pid=$!
        waited=0
        while [ "$waited" -lt 60 ]; do
            if mariadb-admin --no-defaults --socket="$sock" --user=root \
                --connect-timeout=2 ping >/dev/null 2>&1; then
                break
            fi
            if ! kalimo_pid_alive "$pid"; then
                break
            fi
            sleep 0.5
            waited=$((waited + 1))
        done
        if kalimo_pid_alive "$pid" && mariadb-admin --no-defaults --socket="$sock" --user=root \
            --connect-timeout=2 ping >/dev/null 2>&1; then
            break
        fi
        if kalimo_pid_alive "$pid"; then
            kalimo_log "MariaDB did not answer within 30 s; error log follows"
            cat "$errlog" >&2
            kill -KILL "$pid" 2>/dev/null || true
            return 1
        fi
        wait "$pid" 2>/dev/null || true
        if ! grep -qi 'address already in use' "$errlog" || [ "$attempt" -eq 3 ]; then
            kalimo_log "MariaDB failed to start; error log follows"
            cat "$errlog" >&2
            return 1
        fi
        kalimo_log "port $port was taken, trying another"
    done

    printf '%s\n' "$sock" >"$dir/socket.path"
    export KALIMO_DB_DIR="$dir"
    export KALIMO_DB_SOCKET="$sock"
    export KALIMO_DB_PID="$pid"
    export MYSQL_TCP_PORT="$port"
    export KALIMO_TEST_DB_HOST=127.0.0.1
    export KALIMO_TEST_DB_USER=kalimo
    export KALIMO_TEST_DB_PASSWORD=kalimo
    export KALIMO_TEST_STATION_USER=kalimo_poste
    export KALIMO_TEST_STATION_PASSWORD=poste
    export KALIMO_TEST_STAFF_USER=kalimo_accueil
    export KALIMO_TEST_STAFF_PASSWORD=accueil

    if ! kalimo_db_accounts; then
        kalimo_db_stop
        return 1
    fi
    kalimo_log "MariaDB running on 127.0.0.1:$port (socket $sock, data $datadir)"
}

# The accounts of a private server (or cluster), through the root socket of KALIMO_DB_SOCKET.
kalimo_db_accounts() {
    # Three accounts, as a room has them: the scripts' own administrator (kalimo), which creates the
    # databases and their rows; the stations' account (kalimo_poste), which holds the role
    # kalimo_station and nothing else; and the staff stations' (kalimo_accueil), which holds
    # kalimo_staff. db/station_account.sql and db/staff_account.sql give the roles their rights in
    # each database they are loaded into.
    local who
    for who in "'kalimo'@'127.0.0.1'" "'kalimo'@'localhost'"; do
        if ! kalimo_db_sql -e "CREATE OR REPLACE USER $who IDENTIFIED BY 'kalimo'; GRANT ALL PRIVILEGES ON *.* TO $who WITH GRANT OPTION;"; then
            kalimo_log "could not create the kalimo user"
            return 1
        fi
    done
    # The administrator may give the role to accounts of its own (tests make some).
    local role
    for role in kalimo_station kalimo_staff; do
        if ! kalimo_db_sql -e "CREATE ROLE IF NOT EXISTS $role; GRANT $role TO 'kalimo'@'127.0.0.1', 'kalimo'@'localhost' WITH ADMIN OPTION;"; then
            kalimo_log "could not create the role $role"
            return 1
        fi
    done
    for who in "'kalimo_poste'@'%'" "'kalimo_poste'@'localhost'"; do
        if ! kalimo_db_sql -e "CREATE OR REPLACE USER $who IDENTIFIED BY 'poste'; GRANT kalimo_station TO $who; SET DEFAULT ROLE kalimo_station FOR $who;"; then
            kalimo_log "could not create the station account kalimo_poste"
            return 1
        fi
    done
    for who in "'kalimo_accueil'@'%'" "'kalimo_accueil'@'localhost'"; do
        if ! kalimo_db_sql -e "CREATE OR REPLACE USER $who IDENTIFIED BY 'accueil'; GRANT kalimo_staff TO $who; SET DEFAULT ROLE kalimo_staff FOR $who;"; then
            kalimo_log "could not create the staff stations' account kalimo_accueil"
            return 1
        fi
    done
}

kalimo_db_stop() {
    local dir="${KALIMO_DB_DIR:-}"
    if [ -z "$dir" ]; then
        return 0
    fi
    local sock="${KALIMO_DB_SOCKET:-$dir/mysqld.sock}"
    local pid="${KALIMO_DB_PID:-}"
    if [ -z "$pid" ] && [ -f "$dir/mysqld.pid" ]; then
        pid="$(cat "$dir/mysqld.pid" 2>/dev/null || true)"
    fi
    if kalimo_pid_alive "$pid"; then
        timeout 30 mariadb-admin --no-defaults --socket="$sock" --user=root \
            --connect-timeout=2 shutdown >/dev/null 2>&1 || true
        local waited=0
        while kalimo_pid_alive "$pid" && [ "$waited" -lt 60 ]; do
            sleep 0.5
            waited=$((waited + 1))
        done
        if kalimo_pid_alive "$pid"; then
            kalimo_log "MariaDB did not stop, killing it"
            kill -TERM "$pid" 2>/dev/null || true
            sleep 2
            kill -KILL "$pid" 2>/dev/null || true
        fi
        kalimo_log "MariaDB stopped"
    fi
    # Our own child: reap it so that no zombie stays behind.
    wait "$pid" 2>/dev/null || true
    unset KALIMO_DB_DIR KALIMO_DB_SOCKET KALIMO_DB_PID MYSQL_TCP_PORT
    unset KALIMO_TEST_DB_HOST KALIMO_TEST_DB_USER KALIMO_TEST_DB_PASSWORD
    unset KALIMO_TEST_STATION_USER KALIMO_TEST_STATION_PASSWORD KALIMO_TEST_STAFF_USER KALIMO_TEST_STAFF_PASSWORD
    return 0
}

# EXIT alone misses SIGTERM and SIGHUP: turn them (and Ctrl-C) into an exit so the trap runs.
kalimo_db_trap() {
    trap 'kalimo_cluster_stop; kalimo_db_stop; kalimo_tls_remove' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    trap 'exit 129' HUP
}

kalimo_tls_make() {
    local dir key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
    # In /tmp, readable by all: a cluster's nodes run as the mysql account.
    dir="$(mktemp -d /tmp/kalimo-tls.XXXXXX)" || return 1
    chmod 755 "$dir"
    printf 'subjectAltName=IP:127.0.0.1\n' >"$dir/server.ext"
    if ! openssl req -x509 -days 3650 -subj "/CN=Kalimo bench authority" "${key[@]}" \
        -keyout "$dir/ca.key" -out "$dir/ca.pem" >"$dir/openssl.log" 2>&1 ||
        ! openssl req -subj /CN=127.0.0.1 "${key[@]}" -keyout "$dir/server.key" -out "$dir/server.csr" \
            >>"$dir/openssl.log" 2>&1 ||
        ! openssl x509 -req -days 3650 -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
            -CAcreateserial -extfile "$dir/server.ext" -out "$dir/server.pem" >>"$dir/openssl.log" 2>&1; then
        kalimo_log "the certificates could not be made"
        cat "$dir/openssl.log" >&2
        rm -rf "$dir"
        return 1
    fi
    chmod 644 "$dir"/*
    export KALIMO_TLS_DIR="$dir"
    export KALIMO_TEST_DB_AUTHORITY="$dir/ca.pem"
    KALIMO_TLS_OPTIONS=(--ssl-ca="$dir/ca.pem" --ssl-cert="$dir/server.pem" --ssl-key="$dir/server.key")
}

kalimo_tls_remove() {
    if [ -n "${KALIMO_TLS_DIR:-}" ]; then
        rm -rf "$KALIMO_TLS_DIR"
    fi
    unset KALIMO_TLS_DIR KALIMO_TEST_DB_AUTHORITY
}

kalimo_db_load() {
    local db="${1:?kalimo_db_load needs a database name}"
    shift
    case "$db" in
        *[!A-Za-z0-9_]* | '')
            kalimo_log "database name must be letters, digits and underscores: $db"
            return 1
            ;;
    esac
    # Private servers only: the database is recreated from scratch.
    kalimo_db_sql -e "DROP DATABASE IF EXISTS \`$db\`; CREATE DATABASE \`$db\` CHARACTER SET latin1 COLLATE latin1_swedish_ci;"
    local file
    for file in "$@"; do
        # The SQL files are UTF-8: the server converts their text into the latin1 columns.
        if ! kalimo_db_sql --default-character-set=utf8mb4 "$db" <"$file"; then
            kalimo_log "loading $file into $db failed"
            return 1
        fi
    done
    # The stations reach it as kalimo_poste, the staff stations as kalimo_accueil, through the roles'
    # rights in it.
    for file in station_account.sql staff_account.sql; do
        if ! kalimo_db_sql "$db" <"$KALIMO_SCRIPTS/../db/$file"; then
            kalimo_log "giving the accounts of $file their rights in $db failed"
            return 1
        fi
    done
}

# --- A private Galera cluster ----------------------------------------------------------------------
# Three mariadbd nodes replicating with Galera, every port on 127.0.0.1 (client, group
# communication, incremental and full state transfer), and HAProxy in front of them: one node takes
# the writes, the other two stand by, and a node that stops answering is dropped from the balancer
# within about a second. DIR/nodeN/start starts node N again (detached) with the options it was
# first started with, so that a test may kill a node and let it rejoin.

kalimo_cluster_sql() {
    # SQL as root on node N's socket.
    local node="$1"
    shift
    mariadb --no-defaults --socket="$KALIMO_CLUSTER_DIR/node$node/mysqld.sock" --user=root "$@"
}

# kalimo_cluster_wait_synced N: node N is part of a three-node primary component and synced.
kalimo_cluster_wait_synced() {
    local node="$1" waited=0 state
    while [ "$waited" -lt 240 ]; do
        state="$(kalimo_cluster_sql "$node" --batch --skip-column-names -e \
            "SELECT GROUP_CONCAT(VARIABLE_VALUE ORDER BY VARIABLE_NAME) FROM information_schema.GLOBAL_STATUS
             WHERE VARIABLE_NAME IN ('wsrep_cluster_status', 'wsrep_local_state_comment', 'wsrep_ready')" \
            2>/dev/null || true)"
        if [ "$state" = "Primary,Synced,ON" ]; then
            return 0
        fi
        if ! kalimo_pid_alive "$(cat "$KALIMO_CLUSTER_DIR/node$node/started.pid" 2>/dev/null)"; then
            break
        fi
        sleep 0.25
        waited=$((waited + 1))
    done
    kalimo_log "cluster node $node did not come up synced ($state); its log follows"
    tail -n 40 "$KALIMO_CLUSTER_DIR/node$node/error.log" >&2
    return 1
}

kalimo_cluster_start() {
    local dir="${1:?kalimo_cluster_start needs a directory}"
    shift
    local extra_options=""
    if [ "$#" -gt 0 ]; then
        extra_options="$(printf '%q ' "$@")"
    fi
    mkdir -p "$dir"
    dir="$(cd "$dir" && pwd -P)"
    # A cluster left behind by an interrupted run: stop it, then start from fresh data.
    KALIMO_CLUSTER_DIR="$dir" kalimo_cluster_stop
    rm -rf "$dir"/node1 "$dir"/node2 "$dir"/node3 "$dir"/haproxy.*

    # The nodes run as the mysql account, as Debian's own server does; without root, as ourselves.
    local account
    account="$(id -un)"
    if [ "$(id -u)" -eq 0 ] && id mysql >/dev/null 2>&1; then
        account=mysql
    fi
    # Socket paths are limited to about 107 bytes, and the nodes' account must reach their folder:
    # a deep checkout, or one under a private home, has its cluster in /tmp.
    if [ "${#dir}" -gt 80 ] ||
        { [ "$account" != "$(id -un)" ] && ! runuser -u "$account" -- test -x "$dir" 2>/dev/null; }; then
        rm -rf "$dir"
        mkdir -p "$(dirname "$dir")"
        ln -s "$(mktemp -d /tmp/kalimo-cluster.XXXXXX)" "$dir"
        dir="$(readlink "$dir")"
        chmod 755 "$dir"
    fi
    export KALIMO_CLUSTER_DIR="$dir"
    local n ports=() all_group=()
    for n in 1 2 3; do
        local p
        for p in sql group ist sst; do
            # Twelve ports, none twice.
            while :; do
                p="$(kalimo_free_port)" || return 1
                case " ${ports[*]} " in
                    *" $p "*) ;;
                    *) break ;;
                esac
            done
            ports+=("$p")
        done
        all_group+=("127.0.0.1:${ports[$(((n - 1) * 4 + 1))]}")
    done
    local addresses
    addresses="$(IFS=,; echo "${all_group[*]}")"
    for n in 1 2 3; do
        local node="$dir/node$n" sql="${ports[$(((n - 1) * 4))]}" group="${ports[$(((n - 1) * 4 + 1))]}"
        local ist="${ports[$(((n - 1) * 4 + 2))]}" sst="${ports[$(((n - 1) * 4 + 3))]}"
        mkdir -p "$node/data"
        echo "$sql" >"$node/port"
        # The settings Galera needs (row events, interleaved auto-increment locks, InnoDB), and the
        # strict mode that refuses what it could not replicate (a table without a primary key, a
        # change to a table of another engine).
        cat >"$node/start" <<START
#!/bin/sh
# Starts cluster node $n detached; "--wsrep-new-cluster" makes it the first node of a new cluster.
setsid mariadbd --no-defaults --user=$account --datadir="$node/data" --socket="$node/mysqld.sock" \\
    --pid-file="$node/mysqld.pid" --log-error="$node/error.log" \\
    --port=$sql --bind-address=127.0.0.1 --skip-name-resolve \\
    --character-set-server=latin1 --collation-server=latin1_swedish_ci \\
    --innodb-buffer-pool-size=64M --innodb-log-file-size=16M $extra_options\\
    --binlog-format=ROW --innodb-autoinc-lock-mode=2 --default-storage-engine=InnoDB \\
    --wsrep-on=ON --wsrep-provider=/usr/lib/galera/libgalera_smm.so --wsrep-cluster-name=kalimo \\
    --wsrep-node-name=node$n --wsrep-node-address=127.0.0.1:$group \\
    --wsrep-cluster-address=gcomm://$addresses \\
    --wsrep-provider-options="gmcast.listen_addr=tcp://127.0.0.1:$group;ist.recv_addr=127.0.0.1:$ist" \\
    --wsrep-sst-method=rsync --wsrep-sst-receive-address=127.0.0.1:$sst \\
    --wsrep-mode=STRICT_REPLICATION,REQUIRED_PRIMARY_KEY "\$@" </dev/null >/dev/null 2>&1 &
# The server writes its pid file only once a joiner has its data: until then, this one tells.
echo \$! >"$node/started.pid"
START
        chmod 755 "$node/start"
    done
    chown -R "$account" "$dir/node1" "$dir/node2" "$dir/node3"

    kalimo_log "initialising the cluster's first node in $dir/node1"
    if ! mariadb-install-db --no-defaults --auth-root-authentication-method=normal --skip-test-db \
        --datadir="$dir/node1/data" --user="$account" >"$dir/node1/install.log" 2>&1; then
        cat "$dir/node1/install.log" >&2
        return 1
    fi
    # The first node founds the cluster; the others join it one at a time, each receiving its
    # data by a full state transfer.
    "$dir/node1/start" --wsrep-new-cluster
    kalimo_cluster_wait_synced 1 || return 1
    KALIMO_DB_SOCKET="$dir/node1/mysqld.sock" kalimo_db_accounts || return 1
    # HAProxy's health check logs in as this account, which may do nothing.
    kalimo_cluster_sql 1 -e "CREATE OR REPLACE USER 'haproxy'@'127.0.0.1';" || return 1
    for n in 2 3; do
        "$dir/node$n/start"
        kalimo_cluster_wait_synced "$n" || return 1
    done

    local front
    front="$(kalimo_free_port)" || return 1
    cat >"$dir/haproxy.cfg" <<CFG
global
    maxconn 8000
defaults
    mode tcp
    timeout connect 2s
    timeout client 1h
    timeout server 1h
    # A connection refused by a node just ended goes to another node at once.
    retries 3
    option redispatch 1
listen kalimo
    bind 127.0.0.1:$front
    maxconn 8000
    option mysql-check user haproxy post-41
    default-server inter 300ms fall 2 rise 3 on-marked-down shutdown-sessions
    server node1 127.0.0.1:$(cat "$dir/node1/port") check
    server node2 127.0.0.1:$(cat "$dir/node2/port") check backup
    server node3 127.0.0.1:$(cat "$dir/node3/port") check backup
CFG
    if ! haproxy -f "$dir/haproxy.cfg" -D -p "$dir/haproxy.pid" >"$dir/haproxy.log" 2>&1; then
        cat "$dir/haproxy.log" >&2
        return 1
    fi
    local waited=0
    until mariadb --no-defaults --host=127.0.0.1 --port="$front" --user=kalimo --password=kalimo \
        --connect-timeout=2 -e 'SELECT 1' >/dev/null 2>&1; do
        if [ "$waited" -gt 40 ]; then
            kalimo_log "HAProxy does not pass connections to the cluster"
            cat "$dir/haproxy.log" >&2
            return 1
        fi
        sleep 0.25
        waited=$((waited + 1))
    done
    echo "$front" >"$dir/haproxy.port"
    export KALIMO_CLUSTER_PORT="$front"
    kalimo_log "Galera cluster of three nodes behind HAProxy on 127.0.0.1:$front (data $dir)"
}

kalimo_cluster_stop() {
    local dir="${KALIMO_CLUSTER_DIR:-}"
    if [ -z "$dir" ] || [ ! -d "$dir" ]; then
        return 0
    fi
    local pid
    pid="$(cat "$dir/haproxy.pid" 2>/dev/null || true)"
    if kalimo_pid_alive "$pid"; then
        kill -TERM "$pid" 2>/dev/null || true
    fi
    rm -f "$dir/haproxy.pid"
    local n pids=()
    for n in 3 2 1; do
        pid="$(cat "$dir/node$n/started.pid" 2>/dev/null || true)"
        if kalimo_pid_alive "$pid"; then
            pids+=("$pid")
            timeout 20 mariadb-admin --no-defaults --socket="$dir/node$n/mysqld.sock" --user=root \
                --connect-timeout=2 shutdown >/dev/null 2>&1 || kill -TERM "$pid" 2>/dev/null || true
        fi
    done
    local waited=0
    for pid in "${pids[@]}"; do
        while kalimo_pid_alive "$pid" && [ "$waited" -lt 60 ]; do
            sleep 0.5
            waited=$((waited + 1))
        done
        kill -KILL "$pid" 2>/dev/null || true
    done
    if [ "${#pids[@]}" -gt 0 ]; then
        kalimo_log "Galera cluster stopped"
    fi
    unset KALIMO_CLUSTER_DIR KALIMO_CLUSTER_PORT
    return 0
}

kalimo_on_cluster() {
    local pids n
    pids="$(for n in 1 2 3; do cat "$KALIMO_CLUSTER_DIR/node$n/started.pid" 2>/dev/null; done | paste -sd,)"
    env MYSQL_TCP_PORT="$KALIMO_CLUSTER_PORT" KALIMO_TEST_DB_HOST=127.0.0.1 \
        KALIMO_TEST_CLUSTER_DIR="$KALIMO_CLUSTER_DIR" KALIMO_DB_SOCKET="$KALIMO_CLUSTER_DIR/node1/mysqld.sock" \
        KALIMO_DB_PID="$pids" "$@"
}
