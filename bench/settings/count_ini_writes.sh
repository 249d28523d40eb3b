#!/usr/bin/env bash
# How often Kavri writes its settings file while the presenter's effect key is held.
# Starts the program with the virtual presenter on a private Xvfb, in a fresh folder with a
# stored spotlight, holds the effect key for SECONDS (default 10) and counts, with strace, the
# times the file was replaced on disk (each write of a settings object ends in one rename).
#   bench/settings/count_ini_writes.sh PROGRAM VDONGLE_LIBRARY [SECONDS]
set -euo pipefail
seconds=${3:-10}
. "$(dirname "$0")/traced_kavri.sh" "$1" "$2" "$(printf '[General]\nlanguage=1\nm_curMode=1\nm_spotSize=60\n')"
before=$(grep -c 'Kavri.ini' "$work/trace" || true)
printf 'hold effect\n' >> "$KAVRI_VDONGLE"
sleep "$seconds"
printf 'release\n' >> "$KAVRI_VDONGLE"
sleep 0.5
after=$(grep -c 'Kavri.ini' "$work/trace" || true)
echo "settings file writes during a ${seconds} s hold of the effect key: $((after - before))"
