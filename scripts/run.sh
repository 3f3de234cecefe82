#!/usr/bin/env bash
# The run command: installs what is missing, builds the Windows program and starts it under Wine,
# on the user's display or on a private Xvfb when there is none. A screenshot of the window is
# saved under build/. On Xvfb nobody can see or close the window, so the program is ended by its
# process id after the screenshot; on a real display it runs until the user closes it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

"$root/scripts/setup.sh"
"$root/scripts/build.sh" windows
"$root/scripts/wine-prefix.sh"

run_program() {
  local build_root=${VELMORA_BUILD_ROOT:-$root/build}
  local screenshot="$build_root/run-screenshot.png"
  "$root/scripts/wine-run.sh" "$build_root/windows/src/velmora-update.exe" "$@" &
  local program=$!
  # Wait (up to 30 s) until the window shows: X reports a window named "Update".
  for _ in $(seq 1 60); do
    xwininfo -root -tree 2>/dev/null | grep -q '"Update"' && break
    kill -0 "$program" 2>/dev/null || break
    sleep 0.5
  done
  sleep 1  # let it paint
  import -window root "$screenshot" 2>/dev/null && echo "run.sh: screenshot saved to $screenshot"
  if [ -n "${VELMORA_ON_XVFB:-}" ]; then
    kill "$program" 2>/dev/null || true
    wait "$program" 2>/dev/null || true
    echo "run.sh: ended velmora-update.exe (pid $program) on the virtual display"
  else
    local code=0
    wait "$program" || code=$?
    echo "run.sh: velmora-update.exe exited with code $code"
  fi
}

source "$root/scripts/wine-env.sh"
export -f run_program
export root
if [ -z "${DISPLAY:-}" ] || [ -n "${VELMORA_FORCE_XVFB:-}" ]; then export VELMORA_ON_XVFB=1; fi
"$root/scripts/with-display.sh" bash -c 'run_program "$@"' run_program "$@"
