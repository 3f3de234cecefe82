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
