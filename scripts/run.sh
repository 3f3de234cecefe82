#!/usr/bin/env bash
# The run command: installs what is missing, builds the Windows program and starts it under Wine,
# on the user's display or on a private Xvfb when there is none, saving a screenshot under build/.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

"$root/scripts/setup.sh"
"$root/scripts/build.sh" windows
"$root/scripts/wine-prefix.sh"

run_program() {
  local build_root=${VELMORA_BUILD_ROOT:-$root/build}
  "$root/scripts/wine-run.sh" "$build_root/windows/src/velmora-update.exe" &
  local program=$!
  sleep 3
  import -window root "$build_root/run-screenshot.png" 2>/dev/null || true
  echo "run.sh: screenshot saved to $build_root/run-screenshot.png"
  wait "$program"
  echo "run.sh: velmora-update.exe exited with code $?"
}

source "$root/scripts/wine-env.sh"
export -f run_program
export root
"$root/scripts/with-display.sh" bash -c run_program
