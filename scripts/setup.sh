#!/usr/bin/env bash
# Installs everything the build, the tests and the demonstration need, from Debian's packages.
# Idempotent: packages already present are left alone, and the package lists are refreshed only
# when something has to be installed.
set -euo pipefail

packages=(
  # native build and tests
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev libssl-dev rapidjson-dev
  # fuzzing and sanitizers
  clang libclang-rt-14-dev
  # Windows cross build
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  # running the Windows program: Wine on a virtual display, fonts with CJK glyphs, screenshots
  wine wine64 fonts-wine xvfb xauth x11-utils imagemagick fonts-wqy-microhei
  # test servers and test certificates
  python3 openssl
  # a real web server for the published release tree, also as a WebDAV destination of uploads
  # (tests/e2e/release)
  nginx libnginx-mod-http-dav-ext
  # velmora-release upload drives it to copy a published tree to object stores and servers
  rclone
  # compression of the delta packs: zlib, natively and for the Windows build
  zlib1g-dev libz-mingw-w64-dev
  # the download benchmark's reference client (bench/download_bench.py)
  curl
  # the delta benchmark's references (bench/delta_bench.py)
  zsync zchunk
  # peak memory of the release benchmark's programs (bench/release_bench.py)
  time
  # memory checks
  valgrind
  # localedef, for the Chinese locale the proxy tests run Wine under (tests/e2e/proxy)
  locales
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
