# Aligned hot code. The JSON parser and serialiser run in tight loops whose speed moved by up to
# 15% between builds that differed only in unrelated code placed before them (the benchmarks
# compared 0.95 to 1.10 against RapidJSON for the same parser). Functions aligned to 64 bytes and
# loops to 32 take that chance out; the cost is a little padding. GCC only (the product's and the
# benchmarks' compiler); other compilers keep their defaults.
function(velmora_align_hot_code)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set_property(SOURCE ${ARGN} APPEND PROPERTY COMPILE_OPTIONS -falign-functions=64 -falign-loops=32)
  endif()
endfunction()
