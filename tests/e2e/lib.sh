# shellcheck shell=bash
# Helpers for tests/e2e/run: checks, the X server side (windows, clicks,
# pictures) and the programs started by a run. Sourced inside the virtual X
# server; expects SCALE, DPI and SHOTS to be set by the caller.

failures=0
checks=0

pass() {
    checks=$((checks + 1))
    printf 'PASS  %-7s %s\n' "${DPI}dpi" "$1"
}

fail() {
    checks=$((checks + 1))
    failures=$((failures + 1))
    printf 'FAIL  %-7s %s\n' "${DPI}dpi" "$1"
}

note() {
    printf 'NOTE  %-7s %s\n' "${DPI}dpi" "$1"
}

# check NAME COMMAND...: one line per check, whatever the outcome.
check() {
    local name=$1
    shift
    if "$@"; then pass "$name"; else fail "$name"; fi
}

now_ms() { date +%s%3N; }

# A base-unit coordinate (the 100 % layout) in pixels at this run's scale.
sc() { awk -v v="$1" -v s="$SCALE" 'BEGIN { printf "%d", v * s + 0.5 }'; }

# wait_for TIMEOUT_MS COMMAND...: true once COMMAND succeeds, tried every 0.1 s.
wait_for() {
    local deadline=$(($(now_ms) + $1))
    shift
    until "$@"; do
        [ "$(now_ms)" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

# window_named NAME_REGEX: prints the id of the visible window whose name matches.
window_named() {
    local id
    id=$(timeout 5 xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1)
    [ -n "$id" ] && echo "$id"
}

# find_window NAME_REGEX [TIMEOUT_MS]: the id of that window, once it is there.
find_window() { wait_for "${2:-10000}" window_named "$1"; }

# wait_gone WINDOW [TIMEOUT_MS]: true once the window is unmapped or destroyed.
wait_gone() { wait_for "${2:-5000}" not_viewable "$1"; }
not_viewable() { ! xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable'; }

# A fingerprint of what the window shows now (empty when it cannot be read).
window_hash() {
    xwd -id "$1" -silent 2>/dev/null | md5sum | cut -c1-32
}

# settle WINDOW [BEFORE] [TIMEOUT_MS]: waits until the window's content differs
# from the fingerprint BEFORE and has stayed the same over two looks.
settle() {
    local window=$1 before=${2:-none} deadline=$(($(now_ms) + ${3:-8000})) previous="" hash
    while [ "$(now_ms)" -lt "$deadline" ]; do
        hash=$(window_hash "$window")
        if [ "$hash" != "d41d8cd98f00b204e9800998ecf8427e" ] && [ "$hash" = "$previous" ] \
            && [ "$hash" != "$before" ]; then
            return 0
        fi
        previous=$hash
        sleep 0.1
    done
    return 1
}

# The colour (#RRGGBB) of one pixel of the window, given in base units.
pixel() {
    import -window "$1" -crop "1x1+$(sc "$2")+$(sc "$3")" -depth 8 txt:- 2>/dev/null \
        | grep -o '#[0-9A-Fa-f]\{6\}' | head -n 1
}

# wait_pixel WINDOW X Y COLOUR [TIMEOUT_MS]
wait_pixel() { wait_for "${5:-8000}" pixel_is "$@"; }
pixel_is() { [ "$(pixel "$1" "$2" "$3")" = "$4" ]; }

# click WINDOW X Y: a left click at base-unit coordinates inside the window.
# Without a window manager the pointer decides which window gets the click.
click() {
    timeout 5 xdotool mousemove --window "$1" "$(sc "$2")" "$(sc "$3")" click 1
}

# shot WINDOW NAME: the window as it looks now, into the picture folder.
shot() {
    if import -window "$1" "$SHOTS/${DPI}dpi-$2.png" 2>/dev/null; then
        echo "      picture ${DPI}dpi-$2.png"
    else
        fail "picture $2 could not be taken"
    fi
}

# type_into_dialog WINDOW TEXT: types into the dialog's focused field, presses
# Return, and presses it again (a completer popup may take the first) until the
# dialog has closed.
type_into_dialog() {
    local dialog=$1 text=$2
    timeout 5 xdotool windowfocus --sync "$dialog" 2>/dev/null \
        || timeout 5 xdotool mousemove --window "$dialog" 20 20
    timeout 20 xdotool type --delay 8 "$text"
    for _ in 1 2 3; do
        timeout 5 xdotool key Return
        wait_gone "$dialog" 2000 && return 0
    done
    return 1
}

# Every process a run starts, as PID:START-TIME, so that none outlives the test
# and a process id the system has since given to another process is left alone.
started_pids=()

start_time() {
    sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d ' ' -f 20
}

# remember PID [first]: adds a process to end later (first: before the others).
remember() {
    local entry
    entry="$1:$(start_time "$1")"
    if [ "${2:-}" = first ]; then
        started_pids=("$entry" "${started_pids[@]}")
    else
        started_pids+=("$entry")
    fi
}

# end_process PID:START-TIME: ends a program that ignores close requests, and
# removes the single-instance segment it may have left behind.
end_process() {
    local pid=${1%%:*} started=${1#*:} shmid
    if [ -n "$started" ] && [ "$(start_time "$pid")" = "$started" ]; then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 1 30); do
            [ "$(start_time "$pid")" = "$started" ] || break
            ps -o stat= -p "$pid" 2>/dev/null | grep -q Z && break
            sleep 0.1
        done
        [ "$(start_time "$pid")" = "$started" ] && kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        for shmid in $(ipcs -m -p 2>/dev/null | awk -v p="$pid" '$3 == p { print $1 }'); do
            ipcrm -m "$shmid" 2>/dev/null || true
        done
    fi
}

end_all() {
    local entry
    for entry in "${started_pids[@]}"; do
        end_process "$entry"
    done
    started_pids=()
}

# in_x_server SCREEN LOG COMMAND...: COMMAND under an X server of its own
# (SCREEN as Xvfb takes it: 1920x1200x24). The server takes the first free
# display and says which (-displayfd): guessing a free one, as xvfb-run -a
# does, races with servers started beside it. 125 when the server did not
# start, else COMMAND's exit code.
in_x_server() {
    local screen=$1 log=$2 fifo number='' status=125
    shift 2
    fifo=$(mktemp -u "${TMPDIR:-/tmp}/x-display.XXXXXX") && mkfifo "$fifo" || return 125
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$fifo" >"$log" 2>&1 &
    remember $!
    # Nothing comes when the server ends before it is ready: that closes the fifo.
    read -r -t 60 number <"$fifo"
    rm -f "$fifo"
    if [ -n "$number" ]; then
        DISPLAY=:$number "$@"
        status=$?
    fi
    end_process "${started_pids[-1]}"
    return $status
}

# wait_exit PID [TIMEOUT_MS]: true when the process ended on its own with code 0.
wait_exit() { wait_for "${2:-10000}" has_ended "$1" && wait "$1"; }
has_ended() { ! kill -0 "$1" 2>/dev/null || ps -o stat= -p "$1" 2>/dev/null | grep -q Z; }

# wait_file PATH [TIMEOUT_MS]
wait_file() { wait_for "${2:-10000}" test -e "$1"; }

# wait_size PATH BYTES [TIMEOUT_MS]: true once the file holds at least BYTES.
wait_size() { wait_for "${3:-20000}" size_at_least "$1" "$2"; }
size_at_least() { [ -e "$1" ] && [ "$(stat -c %s "$1")" -ge "$2" ]; }

# first_image FOLDER: waits up to 10 s for a .tape file in FOLDER and prints its path.
first_image() { wait_for 10000 one_image "$1"; }
one_image() {
    local image
    image=$(ls "$1"/*.tape 2>/dev/null | head -n 1)
    [ -n "$image" ] && echo "$image"
}
