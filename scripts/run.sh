#!/usr/bin/env bash
# The run command: a demonstration of the update check (scripts/demo/). Installs what is missing,
# builds the Windows program, starts a local HTTPS manifest server with a small release of the
# product (a few files, one with a Chinese name), places an older copy of the product in a demo run
# directory (build/demo/run) and starts the updater there under Wine, in a Wine prefix of the demo's
# own: its grid lists the stale files. A screenshot is saved to build/run-screenshot.png. On the
# user's display the updater runs until its window is closed; on a private Xvfb, where nobody could
# close it, the window is closed after the screenshot.
set -euo pipefail
exec "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/demo/run-demo.sh" "$@"
