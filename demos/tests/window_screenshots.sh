#!/usr/bin/env bash
# Starts each demo program with its real (FLTK) windows under Xvfb, against each other, and
# saves a screenshot of the screen while each window is up.
#   window_screenshots.sh BIN_DIR LIBRARY XWD_TO_PNG OUT_DIR
# Exit 77 (skipped) only when Xvfb is not installed or the build has no real windows.
set -u
bin=$1 library=$2 xwd_to_png=$3 out=$4

if ! command -v Xvfb >/dev/null 2>&1; then
    echo "SKIPPED: Xvfb is not installed (tools/install-deps.sh gui installs it)"
    exit 77
fi
if DISPLAY= "$bin/slave_demo" --library "$library" --port 1 2>&1 | grep -q "no real windows"; then
    echo "SKIPPED: this build has no real windows (FLTK was not found)"
    exit 77
fi

# Under LeakSanitizer, fontconfig's cache (kept until exit) is not ours to report.
export LSAN_OPTIONS="suppressions=$(dirname "$0")/lsan_fontconfig.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
    wait 2>/dev/null
    # A killed X server leaves its lock behind; remove it so the number is free again.
    if [ -n "${display:-}" ]; then rm -f "/tmp/.X$display-lock" "/tmp/.X11-unix/X$display"; fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; for f in "$work"/*.log; do echo "--- $f"; cat "$f"; done; exit 1; }

# Waits up to $2 tenths of a second for process $1 to end; its status in $status.
wait_end() {
    local pid=$1 tenths=$2
    for ((i = 0; i < tenths; i++)); do
        if ! kill -0 "$pid" 2>/dev/null; then wait "$pid"; status=$?; return 0; fi
        sleep 0.1
    done
    return 1
}

display=""
for n in $(seq 91 140); do
    # A lock left by an X server that no longer runs (killed earlier) does not hold the number.
    if [ -e "/tmp/.X$n-lock" ]; then
        owner=$(tr -dc '0-9' <"/tmp/.X$n-lock" 2>/dev/null)
        if [ -n "$owner" ] && ! kill -0 "$owner" 2>/dev/null; then
            rm -f "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"
        fi
    fi
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || fail "no free display number"
Xvfb ":$display" -screen 0 800x600x24 -fbdir "$work" -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for ((i = 0; i < 100; i++)); do [ -S "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
[ -S "/tmp/.X11-unix/X$display" ] || fail "Xvfb did not start"
export DISPLAY=":$display"
mkdir -p "$out"

shot() {
    sleep "$2"
    local report
    report=$("$xwd_to_png" "$work/Xvfb_screen0" "$out/$1.png") || fail "no screenshot $1"
    echo "$1.png: $report"
    local colours=${report#*, }
    colours=${colours%% *}
    [ "$colours" -ge 8 ] || fail "$1.png looks empty ($report)"
}

# The slave demo on a free high port (another port when the first is taken).
slave=""
for ((try = 0; try < 5; try++)); do
    port=$((20000 + RANDOM % 40000))
    "$bin/slave_demo" --port "$port" --library "$library" >"$work/slave.log" 2>&1 &
    slave=$!
    pids+=("$slave")
    sleep 1
    kill -0 "$slave" 2>/dev/null && break
    slave=""
done
[ -n "$slave" ] || fail "slave_demo did not start"
shot slave_demo 0.5

for variant in callback polling; do
    flag=""
    [ "$variant" = polling ] && flag="--polling"
    "$bin/master_demo" $flag --port "$port" --library "$library" >"$work/master_$variant.log" 2>&1 &
    master=$!
    pids+=("$master")
    shot "master_demo_$variant" 2
    kill -0 "$master" 2>/dev/null || fail "master_demo ($variant) ended by itself"
    kill -TERM "$master"
    wait_end "$master" 100 || fail "master_demo ($variant) did not close"
    [ "$status" -eq 0 ] || fail "master_demo ($variant) ended with $status"
done

# The stream test has no window; it runs against the slave demo as well.
timeout 30 "$bin/stream_test" --port "$port" --library "$library" >"$work/stream.log" 2>&1 ||
    fail "stream_test failed"
shot slave_demo_after_clients 0.5

kill -TERM "$slave"
wait_end "$slave" 100 || fail "slave_demo did not close"
[ "$status" -eq 0 ] || fail "slave_demo ended with $status"
echo "screenshots in $out"
