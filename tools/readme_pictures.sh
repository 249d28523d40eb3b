#!/usr/bin/env bash
# Takes the README's pictures from the real program: Kavri runs on a private Xvfb with a
# compositing manager and a tray, the virtual presenter stands in for the dongle, and a
# plain slide lies on the desktop behind it. Writes docs/images/*.png.
#   tools/readme_pictures.sh [build-dir]     (default: build; needs kavri and kavri_vdongle)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$here/build}
out=$here/docs/images
kavri=$build/app/kavri
vdongle=$build/tools/vdongle/libkavri_vdongle.so
[ -x "$kavri" ] && [ -f "$vdongle" ] || {
  echo "build kavri and kavri_vdongle first: cmake --build $build --target kavri kavri_vdongle" >&2
  exit 1
}

work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A free display from 70 on.
for n in $(seq 70 99); do
  [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
  if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "${pids[-1]}" 2>/dev/null; then export DISPLAY=":$n"; break; fi
done
[ -n "${DISPLAY:-}" ] || { echo "no free X display" >&2; exit 1; }

# The slide on the desktop: a window without a window manager sits where it is put.
convert -size 1280x800 gradient:'#fdfdfd-#dfe7f2' \
  -fill '#1f3b63' -font DejaVu-Sans-Bold -pointsize 54 -annotate +90+130 'Quarterly review' \
  -fill '#33475f' -font DejaVu-Sans -pointsize 30 \
  -annotate +100+230 '•  Revenue up 18 %' -annotate +100+290 '•  Four new markets' \
  -annotate +100+350 '•  Churn below 2 %' -annotate +100+410 '•  Next: product launch' \
  -fill '#4f8fd8' -draw 'rectangle 760,560 840,700' -draw 'rectangle 870,480 950,700' \
  -fill '#f0a030' -draw 'rectangle 980,400 1060,700' -fill '#5bb56b' -draw 'rectangle 1090,300 1170,700' \
  -stroke '#33475f' -strokewidth 3 -draw 'line 740,700 1190,700' "$work/slide.png"
display -geometry 1280x800+0+0 "$work/slide.png" &
pids+=($!)
xcompmgr >/dev/null 2>&1 &
pids+=($!)
trayer --edge top --align right --widthtype pixel --width 120 --height 24 --SetDockType true \
  --transparent false >/dev/null 2>&1 &
pids+=($!)
sleep 1

# Kavri in English, with the dongle plugged in.
mkdir -p "$work/run" "$work/tmp"
printf '[General]\nlanguage=1\n' > "$work/run/Kavri.ini"
ln -s "$vdongle" "$work/vdongle.so" # LD_PRELOAD splits at spaces, which the checkout may hold
(cd "$work/run" && TMPDIR="$work/tmp" XDG_RUNTIME_DIR="$work/tmp" KAVRI_VDONGLE="$work/run/vd" \
  LD_PRELOAD="$work/vdongle.so" QT_QPA_PLATFORM=xcb exec "$kavri" >/dev/null 2>&1) &
pids+=($!)
for _ in $(seq 100); do grep -q '^opened' "$work/run/vd.log" 2>/dev/null && break; sleep 0.1; done
sleep 1.5
press() { echo "$*" >> "$work/run/vd"; }

# The settings window.
# The settings window: Kavri's top-level window that is neither the full-screen overlay nor
# a tiny helper window.
read -r x y w h < <(xwininfo -root -tree | awk '/\("kavri" "kavri"\)/ {
  for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+x[0-9]+[+-][0-9]+[+-][0-9]+$/) { g = $i; break }
  split(g, b, /[x+]/); if (b[1] >= 300 && b[1] < 1280) { print b[3], b[4], b[1], b[2]; exit } }')
mkdir -p "$out"
import -window root "$work/all.png"
convert "$work/all.png" -crop "${w}x${h}+${x}+${y}" +repage "$out/settings-window.png"

# Hide the settings window (its close button only hides it) and show the effects.
xdotool mousemove $((x + w - 15)) $((y + 14)) click 1
sleep 0.5
shot() { # name: hold the effect key, take the screen, let go
  press hold effect; sleep 0.6
  import -window root "$work/$1.png"
  press release; sleep 0.4
  convert "$work/$1.png" -resize 50% "$out/$1.png"
}
xdotool mousemove 330 280
press tap mode; sleep 1.2; shot spotlight
press tap mode; sleep 1.2; shot laser
# The lens over the text, made larger with the presenter's size key.
xdotool mousemove 250 232
press tap mode; sleep 1.4
for _ in 1 2 3 4 5; do press tap up; sleep 0.3; done
shot magnifier
echo "written: $(cd "$out" && ls *.png | tr '\n' ' ')"
