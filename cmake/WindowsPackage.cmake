# SPDX-License-Identifier: MIT
# The Windows package: kestrel-<version>-win64.zip, made by `cpack -G ZIP` in
# the Windows build directory (scripts/package does it). It holds, in one
# folder:
#   kestrel.exe, hidapi.dll            the program and the USB HID library
#   kestreld.exe                       the server for station software
#   LICENSE.txt                        kestrel's licence (MIT)
#   hidapi-LICENSE*.txt                the library's licence texts
#   README.md                          the README (its Windows section first)
#   kestrel.html, kestreld.html        the manual pages
install(TARGETS kestrel kestreld hidapi RUNTIME DESTINATION .)
foreach(licence LICENSE LICENSE-bsd LICENSE-gpl3 LICENSE-orig)
  install(FILES ${KESTREL_HIDAPI_SOURCE}/${licence}.txt DESTINATION . RENAME hidapi-${licence}.txt)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION .)

find_program(KESTREL_MANDOC mandoc)
if(KESTREL_MANDOC)
  set(manual_pages)
  foreach(page kestrel kestreld)
    add_custom_command(
      OUTPUT ${CMAKE_BINARY_DIR}/dist/${page}.html
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/dist
      COMMAND ${KESTREL_MANDOC} -T html ${CMAKE_SOURCE_DIR}/dist/${page}.1 > ${CMAKE_BINARY_DIR}/dist/${page}.html
      DEPENDS ${CMAKE_SOURCE_DIR}/dist/${page}.1
      VERBATIM)
    list(APPEND manual_pages ${CMAKE_BINARY_DIR}/dist/${page}.html)
  endforeach()
  add_custom_target(kestrel_manual_html ALL DEPENDS ${manual_pages})
  install(FILES ${manual_pages} DESTINATION .)
else()
  message(STATUS "mandoc not found: the package will have no manual (scripts/deps mandoc)")
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_STRIP_FILES ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
