# shellcheck shell=bash
# Helpers for the scripts that run a real station from outside: scripts/screenshots and the package
# test (tests/package/check). Source it after scripts/lib.sh, do not run it.
#
# kalimo_first_adapter_mac            the MAC text of the adapter the station lists first on Linux
# kalimo_write_station_files DIR DB [MAC [USER PASSWORD]]
#                                     write the two configuration files into DIR (no MAC: no station file;
#                                     no USER: the stations' account)
# kalimo_load_demo DB                 (re)create DB from db/schema.sql and db/demo.sql
# kalimo_x_start DIR W H              start a private Xvfb (its files under DIR), export DISPLAY
# kalimo_x_stop                       stop it (safe to call twice)
# kalimo_wait_window REGEX [SECONDS]  print the id of the visible window whose title matches REGEX

# The first adapter as the station lists them on Linux: interfaces in ifindex order, skipping
# those without a 6-byte hardware address or with an all-zero one (loopback).
kalimo_first_adapter_mac() {
    local dev index len addr
    for dev in /sys/class/net/*; do
        [ -r "$dev/ifindex" ] || continue
        index="$(cat "$dev/ifindex" 2>/dev/null)" || continue
        printf '%s %s\n' "$index" "$dev"
    done | sort -n | while read -r index dev; do
        len="$(cat "$dev/addr_len" 2>/dev/null)" || continue
        addr="$(cat "$dev/address" 2>/dev/null)" || continue
        [ "$len" = 6 ] || continue
        [[ "$addr" =~ ^([0-9a-fA-F]{2}:){5}[0-9a-fA-F]{2}$ ]] || continue
        [ "$addr" = 00:00:00:00:00:00 ] && continue
        printf '%s\n' "$addr" | tr 'a-f:' 'A-F-'
        break
    done
}

# The station's configuration files: CR LF between lines, nothing after the last value. The server
# is 127.0.0.1 (TCP: the client library takes the private server's port from MYSQL_TCP_PORT), the
# account the stations' one (kalimo_poste, with only the role kalimo_station) unless another is given
# (a staff station's: kalimo_accueil, with kalimo_staff).
kalimo_write_station_files() {
    local dir="${1:?station folder}" db="${2:?database name}" mac="${3:-}" user="${4:-kalimo_poste}"
    local password="${5:-poste}"
    printf '%s\r\n127.0.0.1\r\n%s\r\n%s' "$db" "$user" "$password" >"$dir/Configuration_Base_de_donnee.init"
    if [ -n "$mac" ]; then
        printf '%s' "$mac" >"$dir/Configuration_Poste_MAC.init"
    else
        rm -f "$dir/Configuration_Poste_MAC.init"
    fi
}

kalimo_load_demo() {
    local db="${1:?database name}"
    kalimo_db_load "$db" db/schema.sql db/demo.sql
}

kalimo_x_start() {
    local dir="${1:?directory}" width="${2:-1440}" height="${3:-900}"
    mkdir -p "$dir"
    rm -f "$dir/display"
    # -displayfd picks a free display number and writes it once the server accepts clients. -noreset:
    # a server that resets itself whenever its last client goes refuses or hangs the next ones for a
    # moment, and the checks start and end many clients.
    Xvfb -displayfd 3 -screen 0 "${width}x${height}x24" -nolisten tcp -noreset \
        3>"$dir/display" </dev/null >"$dir/xvfb.log" 2>&1 &
    KALIMO_X_PID=$!
    local waited=0
    while [ ! -s "$dir/display" ]; do
        if ! kalimo_pid_alive "$KALIMO_X_PID" || [ "$waited" -ge 100 ]; then
            kalimo_log "Xvfb did not start; its log follows"
            cat "$dir/xvfb.log" >&2
            return 1
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    DISPLAY=":$(tr -dc 0-9 <"$dir/display")"
    export DISPLAY KALIMO_X_PID
}

kalimo_x_stop() {
    if kalimo_pid_alive "${KALIMO_X_PID:-}"; then
        kill "$KALIMO_X_PID" 2>/dev/null || true
        wait "$KALIMO_X_PID" 2>/dev/null || true
    fi
    unset KALIMO_X_PID
}

kalimo_wait_window() {
    local pattern="${1:?title pattern}" seconds="${2:-15}" id tries=0
    while [ "$tries" -lt $((seconds * 4)) ]; do
        id="$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -n 1)" || true
        if [ -n "$id" ]; then
            printf '%s\n' "$id"
            return 0
        fi
        sleep 0.25
        tries=$((tries + 1))
    done
    kalimo_log "no window titled like '$pattern' within $seconds s"
    return 1
}
