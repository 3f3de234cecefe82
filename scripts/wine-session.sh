#!/usr/bin/env bash
# Runs a command in a Wine session of its own, held open from its start to its end:
#   wine-session.sh COMMAND [ARGUMENTS...]
# CTest runs every end-to-end scenario file through it.
#
# Debian's wineserver wrapper starts the server with -p0: a session (the server, services.exe,
# explorer.exe and the rest) starts shutting down the moment its last program ends and takes a
# few seconds to do so, while a test often starts its next program within milliseconds. A program
# that arrives while a session ends can land in it, or in a second session of the prefix that the
# following program does not share, and then never sees that program's windows. So the session
# that the prefix may still have is ended first, a persistent server is started (it ends by
# itself after 5 idle minutes, should the command be killed), and when the command ends, the
# session and every program still running in it end and the server is waited for, so that the
# next command starts from none. Exit code: the command's.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

end_session() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}

[ $# -gt 0 ] || { echo "usage: wine-session.sh COMMAND [ARGUMENTS...]" >&2; exit 2; }
"$velmora_root/scripts/wine-prefix.sh"
end_session
wineserver -p300 </dev/null >/dev/null 2>&1
trap end_session EXIT
"$@"
