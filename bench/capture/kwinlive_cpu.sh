#!/bin/bash
# The live lens on KWin: a headless KWin of its own (with its session bus, PipeWire and
# WirePlumber, and the screen cast granted), a full-screen native window changing colour at
# FPS beneath, and bench_kwinlive holding the lens at the middle of the screen. Prints the
# pictures a second and the CPU of the lens's source (% of one core).
#
#   bench/capture/kwinlive_cpu.sh BUILD_DIR [WIDTHxHEIGHT] [FPS] [SECONDS]
#   e.g. bench/capture/kwinlive_cpu.sh build 1920x1080 30 10
set -euo pipefail
build=$(cd "$1" && pwd)
size=${2:-1920x1080}
fps=${3:-30}
seconds=${4:-10}

work=$(mktemp -d)
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export XDG_RUNTIME_DIR="$work/runtime" HOME="$work" XDG_CONFIG_HOME="$work/config"
mkdir -m 700 "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS" >/dev/null 2>&1 &
pids+=($!)
pipewire >/dev/null 2>&1 &
pids+=($!)
wireplumber >/dev/null 2>&1 &
pids+=($!)
# A copy runs where the installed program's file capability is refused; the name matters.
cp "$(command -v kwin_wayland)" "$work/kwin_wayland"
# Without the permission checks: the bench is not an installed program.
KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 "$work/kwin_wayland" --virtual --width "${size%x*}" \
    --height "${size#*x}" --socket bench --no-lockscreen >"$work/kwin.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/bench" ] && break; sleep 0.1; done
export WAYLAND_DISPLAY=bench QT_QPA_PLATFORM=wayland
"$build/bench/capture/bench_kwinlive" --changer "$fps" 2>/dev/null &
pids+=($!)
sleep 2
echo "uptime: $(uptime)"
echo "window beneath changing at $fps fps"
"$build/bench/capture/bench_kwinlive" --seconds "$seconds" 2>"$work/bench.log" || { cat "$work/bench.log"; false; }
