# SPDX-License-Identifier: MIT
# Installing kestrel like ordinary Linux software, and its Debian package.
#
#   cmake --install build                  binaries, man pages, udev rules, completion
#   scripts/package                        kestrel_<version>_<arch>.deb
#
# Layout under the install prefix:
#   bin/kestrel, bin/kestreld, bin/kestrel-sim
#   share/man/man1/kestrel.1.gz, kestreld.1.gz, kestrel-sim.1.gz
#   lib/udev/rules.d/60-kestrel.rules       (udev reads it under /usr only)
#   share/bash-completion/completions/kestrel (and kestreld, kestrel-sim)
#   share/doc/kestrel/copyright, share/doc/kestrel/changelog.gz
#   lib/systemd/system/kestreld.service     (installed disabled)
# and /etc/default/kestreld, the service's options (commented out).

set(KESTREL_DIST_DIR ${CMAKE_CURRENT_LIST_DIR}/../dist)
get_filename_component(KESTREL_DIST_DIR ${KESTREL_DIST_DIR} ABSOLUTE)

set(KESTREL_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "Where the udev rules go, relative to the install prefix or absolute")
set(KESTREL_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Where the kestreld service unit goes, relative to the install prefix or absolute")
set(KESTREL_SERVICE_DEFAULTS_DIR "/etc/default" CACHE STRING
    "Where the kestreld service's options file goes (the unit reads /etc/default/kestreld)")
set(KESTREL_BASH_COMPLETION_DIR "${CMAKE_INSTALL_DATADIR}/bash-completion/completions" CACHE STRING
    "Where the bash completion goes, relative to the install prefix or absolute")
set(KESTREL_PACKAGE_MAINTAINER "kestrel developers <kestrel@example.org>" CACHE STRING
    "Maintainer named in the Debian package")

# Directories made by the install are readable by all, whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Man pages and the changelog are installed compressed, as Debian wants them;
# gzip -n keeps the output the same from build to build.
set(KESTREL_MAN_PAGES kestrel.1 kestreld.1)
if(TARGET kestrel-sim)
  list(APPEND KESTREL_MAN_PAGES kestrel-sim.1)
endif()
set(KESTREL_COMPRESSED "")
foreach(page IN LISTS KESTREL_MAN_PAGES)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/dist/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/dist
    COMMAND gzip -9n -c ${KESTREL_DIST_DIR}/${page} > ${CMAKE_BINARY_DIR}/dist/${page}.gz
    DEPENDS ${KESTREL_DIST_DIR}/${page}
    COMMENT "Compressing ${page}"
    VERBATIM)
  list(APPEND KESTREL_COMPRESSED ${CMAKE_BINARY_DIR}/dist/${page}.gz)
endforeach()
configure_file(${KESTREL_DIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/dist/changelog @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/dist/changelog.gz
  COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/dist/changelog > ${CMAKE_BINARY_DIR}/dist/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/dist/changelog
  VERBATIM)
list(APPEND KESTREL_COMPRESSED ${CMAKE_BINARY_DIR}/dist/changelog.gz)
add_custom_target(kestrel_dist_files ALL DEPENDS ${KESTREL_COMPRESSED})

# kestrel and kestrel-sim themselves are installed where they are built.
foreach(page IN LISTS KESTREL_MAN_PAGES)
  install(FILES ${CMAKE_BINARY_DIR}/dist/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${KESTREL_DIST_DIR}/60-kestrel.rules DESTINATION ${KESTREL_UDEV_RULES_DIR})
# One completion file serves both programs; bash-completion loads it by the
# name of the program whose word is completed first.
install(FILES ${KESTREL_DIST_DIR}/kestrel.bash-completion
        DESTINATION ${KESTREL_BASH_COMPLETION_DIR} RENAME kestrel)
install(FILES ${KESTREL_DIST_DIR}/kestrel.bash-completion
        DESTINATION ${KESTREL_BASH_COMPLETION_DIR} RENAME kestreld)
if(TARGET kestrel-sim)
  install(FILES ${KESTREL_DIST_DIR}/kestrel.bash-completion
          DESTINATION ${KESTREL_BASH_COMPLETION_DIR} RENAME kestrel-sim)
endif()
install(FILES ${KESTREL_DIST_DIR}/copyright ${CMAKE_BINARY_DIR}/dist/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The service unit names kestreld where it is installed; the prefix is only
# known at install time (the package installs under /usr).
install(CODE "set(KESTRELD_BINARY \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/kestreld\")
  configure_file(\"${KESTREL_DIST_DIR}/kestreld.service.in\"
                 \"${CMAKE_BINARY_DIR}/dist/kestreld.service\" @ONLY)")
install(FILES ${CMAKE_BINARY_DIR}/dist/kestreld.service DESTINATION ${KESTREL_SYSTEMD_UNIT_DIR})
install(FILES ${KESTREL_DIST_DIR}/kestreld.default DESTINATION ${KESTREL_SERVICE_DEFAULTS_DIR}
        RENAME kestreld)

# The Debian package: everything above under /usr, its library dependencies
# worked out by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT ${KESTREL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KESTREL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configure and query software-defined radio receivers")
# The synopsis line comes from the summary; this is the extended description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "kestrel sets the frequency, gains, sample rates and modes of a family of
software-defined radio receivers from the command line, reads back what
they store, and backs up their user memory cells. It reaches the receiver
over USB HID, over two command files on the receiver's USB drive, or over
TCP.
.
kestreld keeps a receiver open and serves it to Hamlib network radio
clients (NET rigctl): gpredict, WSJT-X, fldigi, loggers and Python.
.
kestrel-sim, a simulated receiver, lets every command be tried without
hardware. A udev rules file gives the logged-in user access to the
receivers without root.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# kestrel loads hidapi when it first tries USB HID, so dpkg-shlibdeps does
# not see it: the package names it itself.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libhidapi-hidraw0 (>= 0.13)")
# A cross build (cmake/aarch64-linux-gnu.cmake, ...) is packed for its target:
# the package names the target's architecture, and dpkg-shlibdeps, told the
# same through DEB_HOST_ARCH when cpack runs, reads the target's libraries
# from Debian's multiarch packages (libc6:arm64, ...).
if(KESTREL_DEB_ARCH)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${KESTREL_DEB_ARCH})
  file(WRITE ${CMAKE_BINARY_DIR}/CPackTarget.cmake "set(ENV{DEB_HOST_ARCH} ${KESTREL_DEB_ARCH})\n")
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackTarget.cmake)
endif()
# The options file is the administrator's (a conffile). The maintainer
# scripts let systemd read the unit again after an install or a removal and
# stop the service on removal; none enables or starts it.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${KESTREL_DIST_DIR}/debian/conffiles ${KESTREL_DIST_DIR}/debian/postinst
    ${KESTREL_DIST_DIR}/debian/prerm ${KESTREL_DIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
include(CPack)

# Tests of the installed files and of the package.
if(KESTREL_BUILD_TESTS AND NOT CMAKE_CROSSCOMPILING)
  set(KESTREL_DIST_TESTS ${CMAKE_CURRENT_LIST_DIR}/../tests/dist)
  get_filename_component(KESTREL_DIST_TESTS ${KESTREL_DIST_TESTS} ABSOLUTE)
  if(TARGET kestrel-sim)
    set(KESTREL_HAS_SIM 1)
    set(KESTREL_SIM_FILE $<TARGET_FILE:kestrel-sim>)
  else()
    set(KESTREL_HAS_SIM 0)
    set(KESTREL_SIM_FILE "")
  endif()

  # The tools the tests below need (mandoc, dpkg-dev, lintian, ...): checked
  # before them, not installed (scripts/deps installs them).
  add_test(NAME dist_tools
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/deps --check mandoc groff-base dpkg-dev lintian file)
  set_tests_properties(dist_tools PROPERTIES FIXTURES_SETUP dist_tools TIMEOUT 60)

  add_test(NAME dist_udev_rules COMMAND bash ${KESTREL_DIST_TESTS}/udev_rules_test.sh ${CMAKE_SOURCE_DIR})
  add_test(NAME dist_completion
           COMMAND bash ${KESTREL_DIST_TESTS}/completion_test.sh ${KESTREL_DIST_DIR}/kestrel.bash-completion)
  add_test(NAME dist_man_pages
           COMMAND bash ${KESTREL_DIST_TESTS}/man_pages_test.sh ${CMAKE_SOURCE_DIR} ${KESTREL_HAS_SIM}
                   "${KESTREL_SIM_FILE}" $<TARGET_FILE:kestreld>)
  add_test(NAME dist_install_layout
           COMMAND bash ${KESTREL_DIST_TESTS}/install_layout_test.sh ${CMAKE_BINARY_DIR} ${KESTREL_HAS_SIM})
  add_test(NAME dist_package
           COMMAND bash ${KESTREL_DIST_TESTS}/package_test.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}
                   ${KESTREL_HAS_SIM})
  # kestrel starts with the C library only: a run pays for every shared
  # library it loads, so no C++ runtime (std::string, exceptions, guarded
  # statics) may creep in, and hidapi is loaded only when USB HID is tried.
  # The sanitized build needs that runtime.
  if(NOT KESTREL_SANITIZE AND NOT WIN32)
    add_test(NAME dist_no_cxx_runtime COMMAND bash -c [[
      imports=$(nm -D --undefined-only "$1" && readelf -d "$1") || exit 2
      ! grep -E '@(GLIBCXX|CXXABI|GCC)_|libstdc|libgcc_s|libhidapi|hid_' <<<"$imports"]] _ $<TARGET_FILE:kestrel>)
    set_tests_properties(dist_no_cxx_runtime PROPERTIES LABELS dist)
  endif()
  set_tests_properties(dist_man_pages dist_package PROPERTIES FIXTURES_REQUIRED dist_tools)
  set_tests_properties(dist_package PROPERTIES TIMEOUT 300)
  set_tests_properties(dist_tools dist_udev_rules dist_completion dist_man_pages dist_install_layout
                       dist_package PROPERTIES LABELS dist)
endif()
