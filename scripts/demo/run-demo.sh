#!/usr/bin/env bash
# The demonstration: installs what is missing, builds the Windows program (and the stand-in product),
# prepares the demo's own Wine prefix and runs scripts/demo/demo.py. On a private Xvfb, where nobody
# could press a button, the demonstration presses the start button and answers the success notice
# itself (--drive); on the user's display (DISPLAY set, VELMORA_FORCE_XVFB unset) the window is left
# to the user.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root"

"$root/scripts/setup.sh"
"$root/scripts/build.sh" windows

build_root=${VELMORA_BUILD_ROOT:-$root/build}
# The demo's certificate authority is trusted in this prefix only.
export VELMORA_WINEPREFIX=${VELMORA_DEMO_WINEPREFIX:-$build_root/demo-wine-prefix}
# The prefix is kept between runs; it is made afresh when the font set-up it was made with is no
# longer the current one (Chinese text depends on it).
fresh=()
fonts=$(mktemp)
python3 "$root/scripts/wine-fonts.py" "$fonts"
if [ -f "$VELMORA_WINEPREFIX/velmora-fonts.reg" ] && ! cmp -s "$fonts" "$VELMORA_WINEPREFIX/velmora-fonts.reg"; then
  fresh=(--fresh)
fi
rm -f "$fonts"
"$root/scripts/wine-prefix.sh" "${fresh[@]}"

drive=()
if [ -z "${DISPLAY:-}" ] || [ -n "${VELMORA_FORCE_XVFB:-}" ]; then drive=(--drive); fi
"$root/scripts/with-display.sh" python3 "$root/scripts/demo/demo.py" "${drive[@]}"
