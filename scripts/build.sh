#!/usr/bin/env bash
# Configures and builds the project: build.sh [native|windows|fuzz]... (default: native windows).
# native:  build/native  (host compiler, unit tests, benchmarks, end-to-end test registration)
# windows: build/windows (MinGW-w64 cross build: velmora-update.exe, the unit tests, test tools)
# fuzz:    build/fuzz    (clang with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer;
#                         also the unit tests, run with the sanitizers and the leak checker)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

jobs=$(nproc 2>/dev/null || echo 2)
werror=${VELMORA_WARNINGS_AS_ERRORS:-ON}
# Another build root (VELMORA_BUILD_ROOT) lets several builds of one checkout live side by side.
build_root=${VELMORA_BUILD_ROOT:-$root/build}
# More CMake options for every build, such as -DVELMORA_MANIFEST_PUBLIC_KEY=<key> (docs/signing.md).
read -r -a extra_options <<< "${VELMORA_CMAKE_OPTIONS:-}"
build_type=${VELMORA_BUILD_TYPE:-RelWithDebInfo}
# The benchmarks (bench/ natively, download-bench.exe for Windows); VELMORA_BUILD_BENCHMARKS=OFF
# leaves them out, as the test command does, since no test runs them.
benchmarks=${VELMORA_BUILD_BENCHMARKS:-ON}

configure_and_build() {
  local dir=$1
  shift
  cmake -S "$root" -B "$build_root/$dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" \
    -DVELMORA_WARNINGS_AS_ERRORS="$werror" "$@" ${extra_options[@]+"${extra_options[@]}"} >/dev/null
  cmake --build "$build_root/$dir" -j "$jobs"
}

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(native windows)
for target in "${targets[@]}"; do
  case "$target" in
    windows)
      configure_and_build windows -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-x86_64.cmake" \
        -DVELMORA_BUILD_BENCHMARKS="$benchmarks" ;;
    native)
      configure_and_build native -DVELMORA_BUILD_BENCHMARKS="$benchmarks" -DVELMORA_WINDOWS_BUILD_DIR="$build_root/windows" \
        -DVELMORA_FUZZ_BUILD_DIR="$build_root/fuzz" ;;
    fuzz)
      configure_and_build fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DVELMORA_BUILD_FUZZERS=ON -DVELMORA_SANITIZE=ON ;;
    *)
      echo "build.sh: unknown build '$target'" >&2
      exit 2 ;;
  esac
done
