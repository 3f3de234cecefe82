#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix and passes on its exit code.
# CTest uses it as the cross-compiling emulator: wine-run.sh program.exe [arguments...]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
"$velmora_root/scripts/wine-prefix.sh"
exec wine "$@"
