# Sourced by the settings benchmarks: starts PROGRAM ($1) with the virtual presenter
# (VDONGLE_LIBRARY, $2) on a private Xvfb, in a fresh folder ($work) whose Kavri.ini holds
# the text $3, under strace, which writes every rename of the program to $work/trace (each
# write of a settings object ends in one). Returns once the dongle has been found. Everything
# it started is ended, and the folder removed, when the benchmark exits.
program=$(realpath "$1") library=$(realpath "$2")
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/run" "$work/tmp" "$work/config"
chmod 700 "$work/run"
printf '%s\n' "$3" > "$work/Kavri.ini"

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
