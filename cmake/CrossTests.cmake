# SPDX-License-Identifier: MIT
# The tests of a cross build for another Linux system (arm64, armhf; see
# cmake/debian-cross.cmake), run here under qemu-user:
#
#   cmake -S . -B build-arm64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
#         -DKESTREL_HOST_BUILD_DIR=$PWD/build [-DKESTREL_CROSS_UNIT_TESTS=OFF]
#   cmake --build build-arm64 && ctest --test-dir build-arm64 -L cross
#
# The unit tests, built for the target; and, when KESTREL_HOST_BUILD_DIR names
# a build of this tree for this machine, its end-to-end tests run against the
# target's kestrel, kestreld, kestrel-sim and HID stand-in (loaded into the
# target's kestrel with LD_PRELOAD). KESTREL_CROSS_E2E_FILTER picks those
# tests (a GoogleTest filter; all by default).
set(KESTREL_HOST_BUILD_DIR "" CACHE PATH
    "A build of this tree for this machine whose e2e_tests test the target's programs")
option(KESTREL_CROSS_UNIT_TESTS "Build the unit tests for the target and run them under qemu" ON)
set(KESTREL_CROSS_E2E_FILTER "*" CACHE STRING "The end-to-end tests run against the target's programs")

find_package(GTest REQUIRED)
include(GoogleTest)
set(KESTREL_CROSS_TESTS "")
if(KESTREL_CROSS_UNIT_TESTS)
  file(GLOB KESTREL_UNIT_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
  add_executable(unit_tests ${KESTREL_UNIT_TEST_SOURCES})
  target_link_libraries(unit_tests PRIVATE kestrel_core GTest::gtest GTest::gtest_main)
  target_include_directories(unit_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  target_compile_definitions(unit_tests PRIVATE KESTREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(NOT KESTREL_TEST_DEBUG_INFO)
    target_compile_options(unit_tests PRIVATE -g0)
  endif()
  # Listed and run through CMAKE_CROSSCOMPILING_EMULATOR; one test each.
  gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 120 PROPERTIES LABELS cross)
endif()
if(KESTREL_HOST_BUILD_DIR)
  # The stand-in and the programs must be built before the tests run.
  add_custom_target(kestrel_cross_e2e_programs ALL DEPENDS kestrel kestreld kestrel-sim kestrel_sim_hid)
  # In four shards that run side by side.
  foreach(shard RANGE 3)
    add_test(NAME cross_e2e_${shard} COMMAND ${KESTREL_HOST_BUILD_DIR}/tests/e2e_tests
                                             --gtest_filter=${KESTREL_CROSS_E2E_FILTER})
    set_tests_properties(cross_e2e_${shard} PROPERTIES
      ENVIRONMENT "KESTREL_E2E_TARGET_BUILD=${CMAKE_BINARY_DIR};GTEST_TOTAL_SHARDS=4;GTEST_SHARD_INDEX=${shard}"
      LABELS cross TIMEOUT 900)
  endforeach()
endif()
