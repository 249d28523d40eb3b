#!/usr/bin/env bash
# How often Kavri writes its settings file while the presenter's effect key is held.
# Starts the program with the virtual presenter on a private Xvfb, in a fresh folder with a
# stored spotlight, holds the effect key for SECONDS (default 10) and counts, with strace, the
# times the file was replaced on disk (each write of a settings object ends in one rename).
#   bench/settings/count_ini_writes.sh PROGRAM VDONGLE_LIBRARY [SECONDS]
set -euo pipefail
program=$(realpath "$1") library=$(realpath "$2") seconds=${3:-10}
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/run" "$work/tmp" "$work/config"
chmod 700 "$work/run"
printf '[General]\nlanguage=1\nm_curMode=1\nm_spotSize=60\n' > "$work/Kavri.ini"

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3> "$work/display" 2>/dev/null &
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display") KAVRI_VDONGLE="$work/vdongle" TMPDIR="$work/tmp" \
       XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb
# LD_PRELOAD splits at spaces and colons, which a checkout's path may hold: preload a link.
ln -s "$library" "$work/vdongle.so"
(cd "$work" && LD_PRELOAD=$work/vdongle.so strace -f -qq -e trace=rename,renameat,renameat2 \
   -o "$work/trace" "$program" >/dev/null 2>&1) &
for _ in $(seq 100); do [ -e "$KAVRI_VDONGLE" ] && break; sleep 0.1; done
sleep 2 # the dongle is found about a second after start
before=$(grep -c 'Kavri.ini' "$work/trace" || true)
printf 'hold effect\n' >> "$KAVRI_VDONGLE"
sleep "$seconds"
printf 'release\n' >> "$KAVRI_VDONGLE"
sleep 0.5
after=$(grep -c 'Kavri.ini' "$work/trace" || true)
echo "settings file writes during a ${seconds} s hold of the effect key: $((after - before))"
