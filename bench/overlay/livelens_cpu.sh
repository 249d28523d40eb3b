#!/bin/bash
# The CPU the whole overlay process uses for its live lens:
# - on X11 with a compositing manager: an Xvfb of its own with picom, a full-screen window
#   changing colour at 30 fps beneath;
# - with --gnome, on GNOME: a headless mutter of its own (with a session bus, PipeWire and
#   WirePlumber) and one monitor of that size, a native full-screen Wayland window changing
#   colour at 30 fps beneath, the overlay on XWayland casting that window while the lens is held;
# and the X11 test host's overlay with the lens held. Prints the process's CPU (user + system,
# % of one core) while the lens is not shown, held over the changing window, held over a still
# one (the changer stopped), and hidden again; on GNOME also mutter's and PipeWire's.
#
#   bench/overlay/livelens_cpu.sh [--gnome] BUILD_DIR WIDTHxHEIGHT RADIUS MAGNIFICATION [QT_SCALE_FACTOR]
#   e.g. bench/overlay/livelens_cpu.sh build 3840x2160 50 2 2
#        bench/overlay/livelens_cpu.sh --gnome build 1920x1080 100 2
set -euo pipefail
gnome=0
if [ "${1:-}" = --gnome ]; then gnome=1; shift; fi
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
wait_for() { # <seconds> <test...>
    local tries=$(($1 * 10)); shift
    until "$@"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || { echo "timed out waiting for: $*" >&2; return 1; }
        sleep 0.1
    done
}

others=()
if [ $gnome = 1 ]; then
    session=$work/session
    mkdir -m 700 "$session"
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$session/bus PIPEWIRE_RUNTIME_DIR=$session
    XDG_RUNTIME_DIR=$session HOME=$work dbus-daemon --session --nofork \
        --address="$DBUS_SESSION_BUS_ADDRESS" >/dev/null 2>&1 &
    pids+=($!)
    wait_for 5 test -S "$session/bus"
    XDG_RUNTIME_DIR=$session HOME=$work pipewire >/dev/null 2>&1 &
    pids+=($!)
    others+=("pipewire $!")
    XDG_RUNTIME_DIR=$session HOME=$work wireplumber >/dev/null 2>&1 &
    pids+=($!)
    XDG_RUNTIME_DIR=$session HOME=$work mutter --headless --wayland --virtual-monitor "$size" \
        --wayland-display kavri-bench >"$work/mutter.log" 2>&1 &
    mutter=$!
    pids+=($mutter)
    others+=("mutter $mutter")
    wait_for 20 grep -q "public X11 display" "$work/mutter.log"
    export WAYLAND_DISPLAY=$session/kavri-bench
    DISPLAY=$(grep -o "public X11 display :[0-9]*" "$work/mutter.log" | grep -o ":[0-9]*")
    XAUTHORITY=$(ls "$session"/.mutter-Xwaylandauth.* | head -n 1)
    export DISPLAY XAUTHORITY
    XDG_RUNTIME_DIR=$session QT_QPA_PLATFORM=wayland QT_SCALE_FACTOR=1 \
        "$build/bench/capture/capture_pattern" --change 30 >/dev/null 2>&1 &
    changer=$!
    pids+=($changer)
    sleep 2
else
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
fi

export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config"
mkdir -m 700 "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME"
cd "$work"
export QT_LOGGING_RULES="${QT_LOGGING_RULES:-kavri.overlay.capture.info=true}"
coproc HOST { exec "$build/tests/overlay/x11/x11_overlay_host" 2>"$work/host.log"; }
host=$HOST_PID
pids+=($host)
send() { echo "$1" >&"${HOST[1]}"; }
sleep 2
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
measure() {
    local before after other
    before=$(ticks "$host")
    declare -A was
    for other in "${others[@]}"; do was[$other]=$(ticks "${other#* }"); done
    sleep "$2"
    after=$(ticks "$host")
    awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v s="$2" -v what="$1" \
        'BEGIN { printf "%-34s %5.1f %% of one core\n", what ":", t * 100 / hz / s }'
    for other in "${others[@]}"; do
        awk -v t=$(($(ticks "${other#* }") - was[$other])) -v hz="$(getconf CLK_TCK)" -v s="$2" \
            -v what="  ${other% *}" 'BEGIN { printf "%-34s %5.1f %% of one core\n", what ":", t * 100 / hz / s }'
    done
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
grep "live lens" "$work/host.log" | sort | uniq -c || true
