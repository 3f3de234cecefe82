#!/usr/bin/env bash
# Runs a command with an X display: the user's when DISPLAY is set, otherwise a private Xvfb that
# is ended (by its process id) when the command ends.
set -euo pipefail
if [ -n "${DISPLAY:-}" ] && [ -z "${VELMORA_FORCE_XVFB:-}" ]; then
  exec "$@"
fi

display=""
for number in $(seq 90 140); do
  if [ ! -e "/tmp/.X11-unix/X$number" ] && [ ! -e "/tmp/.X$number-lock" ]; then
    display=":$number"
    break
  fi
done
[ -n "$display" ] || { echo "with-display.sh: no free X display number" >&2; exit 1; }

Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  sleep 0.1
done
export DISPLAY="$display"
"$@"
