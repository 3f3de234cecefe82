#!/usr/bin/env bash
# Fails when a file of the system's own code, its unit tests, benchmarks or fuzzers includes a
# platform header: only src/platform may (and tools/, which holds Windows programs of the tests).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
pattern='^\s*#\s*include\s*[<"](windows\.h|winsock2?\.h|wininet\.h|wincrypt\.h|commctrl\.h|shlwapi\.h|shellapi\.h|psapi\.h|tlhelp32\.h|iconv\.h|openssl/[^">]*|unistd\.h|fcntl\.h|sys/[^">]*|pthread\.h)[">]'
hits=$(grep -rnE "$pattern" src tests bench fuzz --include='*.h' --include='*.cpp' | grep -v '^src/platform/' || true)
if [ -n "$hits" ]; then
  echo "platform headers outside src/platform:"
  echo "$hits"
  exit 1
fi
echo "no platform header outside src/platform"

# The subsystems depend one way: app -> download -> install -> update -> state, notify, json,
# text -> platform; delta (chunking) stands below them all. (state/program_state.h holds the
# rows' download tasks, whose header depends on the platform layer only.)
layer_hits=$( (grep -rnE '#\s*include\s*"(app|download)/' src/install src/update || true;
               grep -rnE '#\s*include\s*"(app|download|install|update|state|notify)/' src/delta || true;
               grep -rnE '#\s*include\s*"install/' src/update || true;
               grep -rnE '#\s*include\s*"app/' src/download || true) )
if [ -n "$layer_hits" ]; then
  echo "includes against the direction of the layers:"
  echo "$layer_hits"
  exit 1
fi
echo "the layers depend one way"
