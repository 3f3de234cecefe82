#!/usr/bin/env bash
# The demonstration: installs what is missing, builds the Windows program, prepares the demo's own
# Wine prefix and runs scripts/demo/demo.py on the user's display, or on a private Xvfb (where the
# window is closed after the screenshot, since nobody could close it).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root"

"$root/scripts/setup.sh"
"$root/scripts/build.sh" windows

build_root=${VELMORA_BUILD_ROOT:-$root/build}
# The demo's certificate authority is trusted in this prefix only.
export VELMORA_WINEPREFIX=${VELMORA_DEMO_WINEPREFIX:-$build_root/demo-wine-prefix}
"$root/scripts/wine-prefix.sh"

close=()
if [ -z "${DISPLAY:-}" ] || [ -n "${VELMORA_FORCE_XVFB:-}" ]; then close=(--close-after-screenshot); fi
"$root/scripts/with-display.sh" python3 "$root/scripts/demo/demo.py" "${close[@]}"
