# SPDX-License-Identifier: MIT
# The Windows build of kestrel, cross-built on Debian with mingw-w64:
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         [-DKESTREL_HOST_BUILD_DIR=$PWD/build]
#   cmake --build build-win && ctest --test-dir build-win
#   (cd build-win && cpack -G ZIP)       kestrel-<version>-win64.zip
#
# Everything that runs lands in build-win/bin: kestrel.exe, kestreld.exe,
# hidapi.dll, the tests. hidapi is hidapi's own Windows backend, taken from Debian's source
# package of the same version as the Linux build and checked against the
# checksum below; it is built as a DLL beside kestrel.exe, so that tests can
# put a stand-in in its place. The tests run under wine, in a wine prefix of
# this build directory (build-win/wine): the unit tests that need no POSIX,
# and, when KESTREL_HOST_BUILD_DIR names a Linux build of this tree, kestrel.exe
# end to end against the Linux simulator (its e2e_tests and kestrel-sim).

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

set(KESTREL_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTREL_WINE_RUN})
set(KESTREL_HOST_BUILD_DIR "" CACHE PATH
    "A Linux build of this tree whose e2e_tests and kestrel-sim test kestrel.exe end to end")

# --- hidapi ----------------------------------------------------------------
set(KESTREL_HIDAPI_VERSION 0.13.1)
set(KESTREL_HIDAPI_SHA256 476a2c9a4dc7d1fc97dd223b84338dbea3809a84caea2dcd887d9778725490e3)
set(KESTREL_HIDAPI_DIR ${CMAKE_BINARY_DIR}/hidapi-source)
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/fetch-hidapi.sh ${KESTREL_HIDAPI_DIR}
                        ${KESTREL_HIDAPI_VERSION} ${KESTREL_HIDAPI_SHA256}
                RESULT_VARIABLE fetched)
if(NOT fetched EQUAL 0)
  message(FATAL_ERROR "Cannot get the source of hidapi ${KESTREL_HIDAPI_VERSION}")
endif()
set(KESTREL_HIDAPI_SOURCE ${KESTREL_HIDAPI_DIR}/hidapi-hidapi-${KESTREL_HIDAPI_VERSION})
set(HIDAPI_INCLUDE_DIRS ${KESTREL_HIDAPI_SOURCE}/hidapi)

add_library(hidapi SHARED ${KESTREL_HIDAPI_SOURCE}/windows/hid.c)
set_target_properties(hidapi PROPERTIES PREFIX "" OUTPUT_NAME hidapi)
target_include_directories(hidapi PUBLIC ${HIDAPI_INCLUDE_DIRS})
# GCC 12 warns wrongly (-Warray-bounds) in hid.c at -O2; its warnings stay
# warnings.
target_compile_options(hidapi PRIVATE -Wno-error)

# The simulated receivers' hidapi stand-in, built as a DLL of the same name;
# copies of kestrel.exe and kestreld.exe beside it (bin/hidsim/) run with
# simulated receivers.
function(kestrel_windows_hid_stand_in)
  add_library(kestrel_sim_model STATIC ${CMAKE_SOURCE_DIR}/sim/receiver_model.cpp)
  target_include_directories(kestrel_sim_model PUBLIC ${CMAKE_SOURCE_DIR}/sim)
  add_library(kestrel_sim_hid SHARED ${CMAKE_SOURCE_DIR}/sim/hid_shim.cpp
                                     ${CMAKE_SOURCE_DIR}/sim/hid_core.cpp)
  target_link_libraries(kestrel_sim_hid PRIVATE kestrel_sim_model)
  target_include_directories(kestrel_sim_hid PRIVATE ${HIDAPI_INCLUDE_DIRS})
  set_target_properties(kestrel_sim_hid PROPERTIES PREFIX "" OUTPUT_NAME hidapi
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/hidsim
                        ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/hidsim)
  set(copies)
  foreach(program kestrel kestreld)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/bin/hidsim/${program}.exe
                       COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${program}>
                               ${CMAKE_BINARY_DIR}/bin/hidsim/${program}.exe
                       DEPENDS ${program})
    list(APPEND copies ${CMAKE_BINARY_DIR}/bin/hidsim/${program}.exe)
  endforeach()
  add_custom_target(kestrel_hidsim ALL DEPENDS ${copies} kestrel_sim_hid)
endfunction()

# --- The package and the tests ----------------------------------------------
macro(kestrel_windows_tests)
  include(cmake/WindowsPackage.cmake)
  if(KESTREL_BUILD_TESTS)
    kestrel_windows_hid_stand_in()
    enable_testing()
    set(INSTALL_GTEST OFF CACHE BOOL "GoogleTest stays out of the package" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # The unit tests that need no POSIX, and those of the platform layer.
    add_executable(unit_tests
      tests/unit/cmdline_test.cpp tests/unit/gain_test.cpp tests/unit/help_test.cpp
      tests/unit/tunnel_answer_test.cpp tests/unit/platform_test.cpp)
    target_link_libraries(unit_tests PRIVATE kestrel_core gtest gtest_main)

    # One wine server for all the tests, started before and stopped after them.
    add_test(NAME wine_start COMMAND ${KESTREL_WINE_RUN} --start)
    add_test(NAME wine_stop COMMAND ${KESTREL_WINE_RUN} --stop)
    set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 120)
    set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)
    set(KESTREL_WINE_TESTS win_unit_tests win_real_hidapi)
    add_test(NAME win_unit_tests COMMAND unit_tests)
    # With the real hidapi.dll: wine has no USB receiver (and its cfgmgr32
    # lacks a function hidapi wants), so the open falls through to the drive.
    add_test(NAME win_real_hidapi COMMAND kestrel -P${CMAKE_BINARY_DIR}/no-such-drive/ -V)
    set_tests_properties(win_real_hidapi PROPERTIES
      PASS_REGULAR_EXPRESSION "no-such-drive/command.in open  error 3")

    # The status as cmd.exe shows it: 255 when no receiver opens, as in a
    # POSIX shell.
    add_test(NAME win_status_in_cmd
             COMMAND ${KESTREL_WINE_RUN} cmd /c "kestrel.exe -Pnowhere\\ & echo status %ERRORLEVEL%"
             WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    set_tests_properties(win_status_in_cmd PROPERTIES PASS_REGULAR_EXPRESSION "status 255")
    list(APPEND KESTREL_WINE_TESTS win_status_in_cmd)

    if(KESTREL_HOST_BUILD_DIR)
      # The end-to-end tests of the Linux build that carry the label
      # "windows" (tests/e2e/windows_labels.cmake), run against kestrel.exe
      # and kestreld.exe: the same expectations, with the console's
      # text-mode line ends.
      set(e2e_env
        KESTREL_E2E_WINDOWS_EXE=${CMAKE_BINARY_DIR}/bin/hidsim/kestrel.exe
        KESTREL_E2E_WINDOWS_KESTRELD=${CMAKE_BINARY_DIR}/bin/hidsim/kestreld.exe
        KESTREL_E2E_WINE_RUN=${CMAKE_SOURCE_DIR}/cmake/wine-run.sh
        KESTREL_E2E_WINE_PREFIX=${CMAKE_BINARY_DIR}/wine)
      add_test(NAME win_e2e
               COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${KESTREL_HOST_BUILD_DIR} -L windows
                       -j2 --timeout 300 --output-on-failure --no-tests=error)
      set_tests_properties(win_e2e PROPERTIES ENVIRONMENT "${e2e_env}")
      list(APPEND KESTREL_WINE_TESTS win_e2e)
    endif()
    set_tests_properties(${KESTREL_WINE_TESTS} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300
                                                           LABELS windows)
    if(KESTREL_HOST_BUILD_DIR)
      # Its tests run one by one, each within the bound above.
      set_tests_properties(win_e2e PROPERTIES TIMEOUT 1800)
    endif()
  endif()
endmacro()
