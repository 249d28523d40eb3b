#!/usr/bin/env bash
# How often Kavri writes its settings file while a slider is dragged, and whether the value
# the drag ends on is the one stored. Starts the program with the virtual presenter on a
# private Xvfb in a fresh folder, drags the spotlight's opacity slider from one end to the
# other over SECONDS (default 3) with xdotool, and counts with strace the times the file was
# replaced on disk (each write of a settings object ends in one rename).
#   bench/settings/count_drag_writes.sh PROGRAM VDONGLE_LIBRARY [SECONDS]
set -euo pipefail
seconds=${3:-3}
. "$(dirname "$0")/traced_kavri.sh" "$1" "$2" "$(printf '[General]\nlanguage=1\nm_curMode=1\nm_backOpacity=0\n')"
wid=
for _ in $(seq 100); do
  wid=$(xdotool search --name "Presenter setting" 2>/dev/null | head -1 || true)
  [ -n "$wid" ] && break
  sleep 0.2
done
[ -n "$wid" ] || { echo "no settings window" >&2; exit 1; }
sleep 1
eval "$(xdotool getwindowgeometry --shell "$wid")"
# The background opacity slider of the form: x 475..572, y 338 in the window, handle at 0.
y=$((Y + 338)) from=$((X + 482)) to=$((X + 572))
before=$(grep -c 'Kavri.ini' "$work/trace" || true)
xdotool mousemove "$from" "$y" mousedown 1
pause=$(awk -v s="$seconds" -v n="$((to - from))" 'BEGIN { printf "%.4f", s / n }')
start=$(date +%s%N)
for x in $(seq "$from" "$to"); do
  xdotool mousemove "$x" "$y" sleep "$pause"
done
during=$(( $(grep -c 'Kavri.ini' "$work/trace" || true) - before ))
ms=$(( ($(date +%s%N) - start) / 1000000 ))
xdotool mouseup 1
sleep 0.5
after=$(( $(grep -c 'Kavri.ini' "$work/trace" || true) - before ))
echo "settings file writes during a ${ms} ms drag: ${during}; after letting go: ${after}"
echo "stored: $(grep m_backOpacity "$work/Kavri.ini")"
