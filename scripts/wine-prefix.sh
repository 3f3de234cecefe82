#!/usr/bin/env bash
# Prepares the project's Wine prefix: made fresh with --fresh (once per test run), otherwise made
# only when missing. Links the WenQuanYi font into the UI fonts so that Chinese text renders.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9

if [ "${1:-}" = "--fresh" ]; then
  # A session still running in the prefix (a test run that just ended or was interrupted) would
  # keep writing into the folder while it is removed.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
fi
if [ -f "$WINEPREFIX/.velmora-ready" ]; then
  exit 0
fi

rm -rf "$WINEPREFIX"
wineboot -i >/dev/null 2>&1
python3 "$velmora_root/scripts/wine-fonts.py" "$WINEPREFIX/velmora-fonts.reg"
wine regedit /S "$(winepath -w "$WINEPREFIX/velmora-fonts.reg")" >/dev/null 2>&1
# Wine draws the window frames itself, so that title bars and their buttons show (and window
# rectangles are the same) on a display without a window manager, such as Xvfb.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
# Nor are they left to a window manager: there is none on Xvfb, and Wine waits up to 2 s for one to
# withdraw each window that is hidden or closed (every answered notice would cost 2 s).
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
# Wine's own fonts (Debian's fonts-wine), among them Marlett for the title-bar buttons.
for font in /usr/share/wine/fonts/*.ttf; do
  [ -e "$font" ] && ln -sf "$font" "$WINEPREFIX/drive_c/windows/Fonts/$(basename "$font")"
done
wineserver -w
touch "$WINEPREFIX/.velmora-ready"
