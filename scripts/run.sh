#!/usr/bin/env bash
# The run command: a demonstration of a whole update (scripts/demo/). Installs what is missing, builds
# the Windows program and the stand-in product, starts a local release server (HTTPS manifest, about
# 40 MB of files sent at a few MB/s), places an older copy of the product in build/demo/run with its
# Velmora.exe running (it holds its own file) and starts the updater there under Wine, in a Wine
# prefix of the demo's own. The updater lists the stale files and, once the start button is pressed,
# ends the running Velmora.exe, downloads and replaces the files two at a time and asks whether to
# run the product; OK starts the new Velmora.exe. Screenshots: build/run-downloads.png (downloads in
# progress) and build/run-notice.png (the success notice). On a private Xvfb the demonstration
# presses the button and answers OK itself and exits non-zero when the update did not go as
# described; on the user's display (DISPLAY set, VELMORA_FORCE_XVFB unset) that is left to the user.
set -euo pipefail
exec "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/demo/run-demo.sh" "$@"
