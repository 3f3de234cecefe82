#!/usr/bin/env bash
# The test command: installs what is missing, builds natively, for Windows and for fuzzing, and runs
# every test in one CTest run (native unit tests, the same tests under Wine, fuzzing, end-to-end
# tests under Wine on a virtual display). Ends with CTest's summary; non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

"$root/scripts/setup.sh"
# No test runs the benchmarks: they are left out of these builds.
VELMORA_BUILD_BENCHMARKS=OFF "$root/scripts/build.sh" windows native fuzz
"$root/scripts/wine-prefix.sh" --fresh

# The display is for the end-to-end tests; a private one, so that nothing pops up on the user's.
tests_dir="${VELMORA_BUILD_ROOT:-$root/build}/native"
status=0
VELMORA_FORCE_XVFB=1 "$root/scripts/with-display.sh" \
  ctest --test-dir "$tests_dir" --output-on-failure -j 2 "$@" || status=$?
if [ "$status" -ne 0 ]; then
  # Why each failed test failed, after the summary, where a log that keeps only its end still has it.
  python3 "$root/scripts/failed-test-report.py" "$tests_dir/Testing/Temporary/LastTest.log" \
    "$tests_dir/Testing/Temporary/LastTestsFailed.log"
fi
exit "$status"
