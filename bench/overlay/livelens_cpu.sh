#!/bin/bash
# The CPU the whole overlay process uses for its live lens on X11 with a compositing manager:
# an Xvfb of its own with picom, a full-screen window changing colour at 30 fps beneath, and
# the X11 test host's overlay with the lens held in the middle of the screen. Prints the
# process's CPU (user + system, % of one core) while the lens is not shown, held over the
# changing window, held over a still one (the changer stopped), and hidden again.
#
#   bench/overlay/livelens_cpu.sh BUILD_DIR WIDTHxHEIGHT RADIUS MAGNIFICATION [QT_SCALE_FACTOR]
#   e.g. bench/overlay/livelens_cpu.sh build 3840x2160 50 2 2
set -euo pipefail
build=$(cd "$1" && pwd)
size=$2
radius=$3
magnification=$4
export QT_SCALE_FACTOR=${5:-1}

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -CONT "$pid" 2>/dev/null || true; kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n1 "$work/display")
picom --backend xrender --config /dev/null >/dev/null 2>&1 &
pids+=($!)
sleep 1
"$build/bench/capture/bench_livelens" --changer "$DISPLAY" 30 &
changer=$!
pids+=($changer)
sleep 1
xdotool mousemove $((${size%x*} / 2 - 7)) $((${size#*x} / 2 - 5))

export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config"
mkdir -m 700 "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME"
cd "$work"
coproc HOST { exec "$build/tests/overlay/x11/x11_overlay_host" 2>/dev/null; }
host=$HOST_PID
pids+=($host)
send() { echo "$1" >&"${HOST[1]}"; }
sleep 2
ticks() { awk '{print $14 + $15}' "/proc/$host/stat"; }
measure() {
    local before after
    before=$(ticks)
    sleep "$2"
    after=$(ticks)
    awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v s="$2" -v what="$1" \
        'BEGIN { printf "%-34s %5.1f %% of one core\n", what ":", t * 100 / hz / s }'
}

echo "screen $size, QT_SCALE_FACTOR $QT_SCALE_FACTOR, lens radius $radius x$magnification"
send "size $radius"
send "scale $magnification"
measure "not shown, 30 fps beneath" 10
send "mode 3"
sleep 1
send "show 1"
sleep 1
measure "lens held, 30 fps beneath" 10
kill -STOP "$changer"
sleep 0.5
measure "lens held, still beneath" 10
kill -CONT "$changer"
send "show 0"
sleep 1
measure "hidden again, 30 fps beneath" 5
send quit
