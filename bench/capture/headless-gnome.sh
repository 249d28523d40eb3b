#!/usr/bin/env bash
# Runs bench_capture against GNOME's compositor with no display: a session bus, PipeWire,
# WirePlumber and a headless mutter with one 1280x800 monitor of their own, capture_pattern
# full screen as a native Wayland window, and the benchmark as an X client of XWayland, the
# way the program runs on GNOME. Everything started here is stopped by its process id.
#   bench/capture/headless-gnome.sh <build folder> [bench_capture options]
#   e.g. bench/capture/headless-gnome.sh build --count 5 --expect-pattern
# KAVRI_CAPTURE_MONITORS="1280x800 1024x768" gives mutter more monitors (the pattern goes on
# the first); the screens are then XWAYLAND0, XWAYLAND1, ... for --screen.
set -euo pipefail
build=$(cd "${1:?usage: $0 <build folder> [bench_capture options]}" && pwd)
shift
base=$(mktemp -d /tmp/kavri-capture-XXXXXX)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$base"
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

export XDG_RUNTIME_DIR=$base/run HOME=$base/home XDG_CONFIG_HOME=$base/config
mkdir -m 700 "$XDG_RUNTIME_DIR" && mkdir "$HOME" "$XDG_CONFIG_HOME"
dbus-daemon --session --nofork --address="unix:path=$XDG_RUNTIME_DIR/bus" \
  --print-address=3 3>"$base/address" 2>"$base/dbus.log" &
pids+=($!)
wait_for 5 test -s "$base/address"
export DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$base/address")
pipewire >"$base/pipewire.log" 2>&1 &
pids+=($!)
wireplumber >"$base/wireplumber.log" 2>&1 &
pids+=($!)
monitors=()
for m in ${KAVRI_CAPTURE_MONITORS:-1280x800}; do monitors+=(--virtual-monitor "$m"); done
mutter --headless --wayland "${monitors[@]}" --wayland-display kavri-capture \
  >"$base/mutter.log" 2>&1 &
pids+=($!)
wait_for 20 grep -q "public X11 display" "$base/mutter.log"
wait_for 10 test -S "$XDG_RUNTIME_DIR/kavri-capture"

WAYLAND_DISPLAY=kavri-capture QT_QPA_PLATFORM=wayland "$build/bench/capture/capture_pattern" \
  >"$base/pattern.log" 2>&1 &
pids+=($!)
sleep 1
DISPLAY=$(grep -o "public X11 display :[0-9]*" "$base/mutter.log" | grep -o ":[0-9]*")
XAUTHORITY=$(ls "$XDG_RUNTIME_DIR"/.mutter-Xwaylandauth.* | head -n 1)
export DISPLAY XAUTHORITY
WAYLAND_DISPLAY=kavri-capture QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-xcb} "$build/bench/capture/bench_capture" "$@"
