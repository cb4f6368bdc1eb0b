# A throw-away PostgreSQL 15 cluster on 127.0.0.1 for scripts/test and scripts/bench.
# Source it, then:
#   pg_cluster_start NAME USER FIRST_PORT [EXTRA_CONF_LINE...]
# starts a fresh cluster in a temporary folder (user USER with a random password, listening
# on the first free port from FIRST_PORT on) and sets PGTMP, PGPORT_FOUND and PGPASS. The
# EXIT trap it installs ends the background command whose pid is in CHILD (and that
# command's children), stops the cluster and removes its folder. Clusters that a killed run
# left behind under the same NAME are removed first.

PGBIN=/usr/lib/postgresql/15/bin
PGTMP=
CHILD=
PGPORT_FOUND=
PGPASS=

# As root the cluster runs as `postgres`, which must be able to reach its folder.
pg_base() {
    if [ "$(id -u)" -eq 0 ]; then echo /tmp; else echo "${TMPDIR:-/tmp}"; fi
}

# Runs a command as the cluster's owner: `postgres` when we are root (the server refuses
# to run as root), otherwise ourselves.
as_pg() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

# shellcheck disable=SC2317 # reached from the EXIT trap
pg_cluster_cleanup() {
    local rc=$?
    trap - EXIT INT TERM HUP
    if [ -n "$CHILD" ] && kill -0 "$CHILD" 2>/dev/null; then
        # ctest does not pass TERM on to the test it is running; end both.
        local children=()
        read -ra children <<<"$(cat /proc/"$CHILD"/task/*/children 2>/dev/null | tr '\n' ' ')"
        kill -TERM "$CHILD" "${children[@]}" 2>/dev/null || true
        wait "$CHILD" 2>/dev/null || true
    fi
    if [ -n "$PGTMP" ] && [ -d "$PGTMP" ]; then
        if as_pg "$PGBIN/pg_ctl" -D "$PGTMP/data" status >/dev/null 2>&1; then
            as_pg "$PGBIN/pg_ctl" -D "$PGTMP/data" -m fast -w -t 30 -s stop >/dev/null 2>&1 ||
                as_pg "$PGBIN/pg_ctl" -D "$PGTMP/data" -m immediate -w -s stop >/dev/null 2>&1 || true
        fi
        rm -rf "$PGTMP"
    fi
    exit "$rc"
}

pg_cluster_start() {
    local name=$1 user=$2 first_port=$3
    shift 3
    local base
    base=$(pg_base)
    trap pg_cluster_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    trap 'exit 129' HUP

    # Clusters left behind by a run that was killed outright (SIGKILL) are stopped and
    # removed; a run that is still alive keeps its own.
    local stale owner
    for stale in "$base/$name".*; do
        [ -f "$stale/owner.pid" ] || continue
        owner=$(cat "$stale/owner.pid" 2>/dev/null || true)
        if [ -n "$owner" ] && [ -d "/proc/$owner" ]; then
            continue
        fi
        as_pg "$PGBIN/pg_ctl" -D "$stale/data" -m immediate -w -s stop >/dev/null 2>&1 || true
        rm -rf "$stale" 2>/dev/null || true
    done

    PGTMP=$(mktemp -d "$base/$name.XXXXXX")
    echo $$ >"$PGTMP/owner.pid"
    mkdir "$PGTMP/sock"
    PGPASS=$(head -c 24 /dev/urandom | base64 | tr -dc 'A-Za-z0-9')
    printf '%s\n' "$PGPASS" >"$PGTMP/pwfile"
    chmod 600 "$PGTMP/pwfile"
    if [ "$(id -u)" -eq 0 ]; then
        chown -R postgres:postgres "$PGTMP"
    fi

    if ! as_pg "$PGBIN/initdb" -D "$PGTMP/data" -U "$user" --pwfile="$PGTMP/pwfile" \
            --auth-local=trust --auth-host=scram-sha-256 -E UTF8 --locale=C --no-sync \
            >"$PGTMP/initdb.log" 2>&1; then
        echo "initdb failed:" >&2
        cat "$PGTMP/initdb.log" >&2
        return 1
    fi
    rm -f "$PGTMP/pwfile"

    {
        echo "listen_addresses = '127.0.0.1'"
        echo "unix_socket_directories = '$PGTMP/sock'"
        echo "fsync = off"
        echo "synchronous_commit = off"
        echo "full_page_writes = off"
        local line
        for line in "$@"; do
            echo "$line"
        done
        echo "include = 'port.conf'"
    } >>"$PGTMP/data/postgresql.conf"

    # Free port: the first one from first_port on that the server manages to bind.
    local port
    PGPORT_FOUND=
    for port in $(seq "$first_port" $((first_port + 49))); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            continue
        fi
        echo "port = $port" | as_pg tee "$PGTMP/data/port.conf" >/dev/null
        if as_pg "$PGBIN/pg_ctl" -D "$PGTMP/data" -l "$PGTMP/server.log" -w -t 60 -s start >/dev/null 2>&1; then
            PGPORT_FOUND=$port
            break
        fi
        if ! grep -qi 'could not bind\|address already in use\|could not create any TCP/IP sockets' \
                "$PGTMP/server.log" 2>/dev/null; then
            echo "PostgreSQL did not start:" >&2
            cat "$PGTMP/server.log" >&2 || true
            return 1
        fi
        : | as_pg tee "$PGTMP/server.log" >/dev/null
    done
    if [ -z "$PGPORT_FOUND" ]; then
        echo "no free port for PostgreSQL in $first_port..$((first_port + 49))" >&2
        return 1
    fi

    local _
    for _ in $(seq 1 100); do
        if "$PGBIN/pg_isready" -q -h 127.0.0.1 -p "$PGPORT_FOUND"; then
            return 0
        fi
        sleep 0.1
    done
    echo "PostgreSQL on 127.0.0.1:$PGPORT_FOUND does not accept connections:" >&2
    cat "$PGTMP/server.log" >&2 || true
    return 1
}
