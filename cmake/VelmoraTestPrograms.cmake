# How the test programs' own code is compiled. The tests are most of the build's time (5 to 16 s a
# test file at -O2 with full debug information, three times over: natively, for Windows and with the
# sanitizers), while what they test is the product's code, which stays in its libraries
# (velmora_core, velmora_release) compiled as it ships. The test files themselves need neither
# -O2's work nor variable-level debug information: -O1 keeps them quick under the sanitizers and
# Wine, -g1 keeps function names and line numbers for backtraces and sanitizer reports.

# velmora_compile_test_code(<target>): the lighter optimisation and debug level for <target>'s own
# sources, in the optimised build types (a Debug build keeps -O0 -g).
function(velmora_compile_test_code target)
  target_compile_options(${target} PRIVATE
    $<$<CONFIG:RelWithDebInfo,Release,MinSizeRel>:-O1>
    $<$<CONFIG:RelWithDebInfo>:-g1>)
endfunction()

# velmora_precompile_test_headers(<target> [REUSE_FROM <other test target>]): GoogleTest and the
# standard headers most test files include, parsed once per build instead of once a test file. A
# target compiled with the same options may take another's (REUSE_FROM) instead of its own.
function(velmora_precompile_test_headers target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "REUSE_FROM" "")
  if(arg_REUSE_FROM)
    target_precompile_headers(${target} REUSE_FROM ${arg_REUSE_FROM})
    return()
  endif()
  target_precompile_headers(${target} PRIVATE
    <gtest/gtest.h>
    <algorithm> <atomic> <chrono> <cstdint> <cstring> <filesystem> <fstream> <functional> <map>
    <memory> <mutex> <optional> <random> <set> <string> <thread> <vector>)
endfunction()
