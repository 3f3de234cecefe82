# GoogleTest for the build at hand: Debian's packaged libraries natively, and for Windows the same
# version built from Debian's googletest sources with the cross compiler.
if(TARGET GTest::gtest_main)
  return()
endif()

if(CMAKE_CROSSCOMPILING)
  set(VELMORA_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${VELMORA_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Test code, compiled as the tests are (gtest-all.cc alone took 27 s at -O2 -g).
  include(VelmoraTestPrograms)
  foreach(library gtest gtest_main)
    velmora_compile_test_code(${library})
  endforeach()
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest_main ALIAS gtest_main)
    add_library(GTest::gmock ALIAS gmock)
  endif()
else()
  find_package(GTest REQUIRED)
endif()
