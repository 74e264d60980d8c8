#!/usr/bin/env bash
# Runs the demo programs against each other on this machine and prints what they do.
#
#   tools/run-demo.sh BUILD_DIR         headless: slave_demo, then master_demo (callback variant,
#                                       polling variant) and stream_test against it
#   tools/run-demo.sh BUILD_DIR --gui   real windows: slave_demo and master_demo on the display;
#                                       without a display, under Xvfb with screenshots
#
# The slave listens on a free high port (44400 or the next free one after it), passed to every
# program with --port: the default port 444 is privileged on Linux and often taken, so the
# run works the same for root and for a normal user. Every wait is bounded.
set -uo pipefail

build=${1:?usage: tools/run-demo.sh BUILD_DIR [--gui]}
mode=${2:-}
bin="$build/bin"
library="$build/lib/libOrvex.so"
for program in slave_demo master_demo stream_test; do
    if [ ! -x "$bin/$program" ]; then
        echo "run-demo: $bin/$program is missing; build first (make build)" >&2
        exit 1
    fi
done
[ -f "$library" ] || { echo "run-demo: $library is missing; build first" >&2; exit 1; }

work=$(mktemp -d)
slave=""
cleanup() {
    if [ -n "$slave" ] && kill -0 "$slave" 2>/dev/null; then kill -KILL "$slave" 2>/dev/null; fi
    rm -rf "$work"
}
trap cleanup EXIT

# Waits up to $2 tenths of a second for process $1 to end; its exit status is in $status.
wait_end() {
    local pid=$1 tenths=$2
    for ((i = 0; i < tenths; i++)); do
        if ! kill -0 "$pid" 2>/dev/null; then wait "$pid"; status=$?; return 0; fi
        sleep 0.1
    done
    return 1
}

# The callback variant sends each job 100 times per press: each log message is shown twice,
# then counted (the count is printed when the program ends).
summarize() {
    awk -v prefix="$1" '
        /^\[[0-9][0-9]:[0-9][0-9]:[0-9][0-9]\] / {
            key = substr($0, 12)
            if (++seen[key] > 2) { next }
        }
        { print prefix $0; fflush() }
        END {
            for (key in seen) if (seen[key] > 2) printf "%s... \"%s\" %d times in all\n", prefix, key, seen[key]
        }'
}

# Starts slave_demo (extra arguments in "$@") on the first free port from 44400; sets $port.
start_slave() {
    for port in $(seq 44400 44420); do
        "$bin/slave_demo" --port "$port" --library "$library" "$@" \
            > >(tee "$work/slave.log" | summarize "  [slave]  ") 2>&1 &
        slave=$!
        for ((i = 0; i < 50; i++)); do
            grep -q "Slave Demo \[Port: $port" "$work/slave.log" 2>/dev/null && return 0
            kill -0 "$slave" 2>/dev/null || break
            sleep 0.1
        done
        if kill -0 "$slave" 2>/dev/null; then return 0; fi  # a window: nothing printed
        wait "$slave" 2>/dev/null
        slave=""
    done
    echo "run-demo: slave_demo could not listen on any port from 44400 to 44420" >&2
    exit 1
}

stop_slave() {
    kill -TERM "$slave"
    if wait_end "$slave" 100; then
        echo "  slave_demo closed (exit status $status)"
    else
        echo "  slave_demo did not close within 10 s" >&2
        status=1
    fi
    slave=""
    sleep 0.2  # lets the slave's output summary through
    return "$status"
}

run_headless() {
    local failures=0
    echo "== slave_demo --headless --port N (32 workers; N = the first free port from 44400)"
    start_slave --headless
    sleep 0.2

    echo "== master_demo --headless --port $port --checks 2   (callback variant: 100 x CRC_Text and MD5_Text per press)"
    timeout 120 "$bin/master_demo" --headless --port "$port" --library "$library" --checks 2 2>&1 |
        summarize "  [master] "
    [ "${PIPESTATUS[0]}" -eq 0 ] || failures=$((failures + 1))

    echo "== master_demo --headless --polling --port $port --text 'Orvex Demo'   (polling variant: once per press)"
    timeout 120 "$bin/master_demo" --headless --polling --port "$port" --library "$library" \
        --text "Orvex Demo" 2>&1 | summarize "  [master] "
    [ "${PIPESTATUS[0]}" -eq 0 ] || failures=$((failures + 1))

    echo "== stream_test --port $port --verbose   (1 MiB stream in 1024-byte blocks, canceled after the first)"
    timeout 60 "$bin/stream_test" --port "$port" --library "$library" --verbose 2>&1 |
        sed -u 's/^/  [stream] /'
    [ "${PIPESTATUS[0]}" -eq 0 ] || failures=$((failures + 1))

    echo "== closing slave_demo"
    sleep 0.3
    stop_slave || failures=$((failures + 1))
    if [ "$failures" -eq 0 ]; then
        echo "make demo: the slave demo, both master demo variants and the stream test ran against each other on port $port"
    else
        echo "make demo: $failures of the demo runs failed (see above)" >&2
        exit 1
    fi
}

run_windows() {
    if [ -n "${DISPLAY:-}" ]; then
        echo "== slave_demo and master_demo on display $DISPLAY (close the Master Demo window to end)"
        start_slave
        timeout 3600 "$bin/master_demo" --port "$port" --library "$library"
        echo "== closing slave_demo"
        stop_slave
        return
    fi
    echo "== no display: the windows run under Xvfb and are photographed"
    local converter="$bin/xwd_to_png"
    [ -x "$converter" ] || { echo "run-demo: $converter is missing (it is built with the tests)" >&2; exit 1; }
    "$(dirname "$0")/../demos/tests/window_screenshots.sh" "$bin" "$library" "$converter" "$build/demo-screenshots"
}

if [ "$mode" = "--gui" ]; then run_windows; else run_headless; fi
