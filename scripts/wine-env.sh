# Sourced by the scripts that run Windows programs: the project's own Wine prefix under build/
# (never the user's), quiet, without the Mono and Gecko installers.
velmora_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${VELMORA_WINEPREFIX:-$velmora_root/build/wine-prefix}"
export WINEDEBUG="${VELMORA_WINEDEBUG:--all}"  # VELMORA_WINEDEBUG: to trace a run
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
