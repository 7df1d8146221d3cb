# The Windows package: kestrel-<version>-win64.zip, made by `cpack -G ZIP` in
# the Windows build directory (scripts/package does it). It holds, in one
# folder:
#   kestrel.exe, hidapi.dll            the program and the USB HID library
#   LICENSE.txt                        kestrel's licence (MIT)
#   hidapi-LICENSE*.txt                the library's licence texts
#   README.md                          the README (its Windows section first)
#   kestrel.html                       the manual page
install(TARGETS kestrel hidapi RUNTIME DESTINATION .)
foreach(licence LICENSE LICENSE-bsd LICENSE-gpl3 LICENSE-orig)
  install(FILES ${KESTREL_HIDAPI_SOURCE}/${licence}.txt DESTINATION . RENAME hidapi-${licence}.txt)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION .)

find_program(KESTREL_MANDOC mandoc)
if(KESTREL_MANDOC)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/dist/kestrel.html
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/dist
    COMMAND ${KESTREL_MANDOC} -T html ${CMAKE_SOURCE_DIR}/dist/kestrel.1 > ${CMAKE_BINARY_DIR}/dist/kestrel.html
    DEPENDS ${CMAKE_SOURCE_DIR}/dist/kestrel.1
    VERBATIM)
  add_custom_target(kestrel_manual_html ALL DEPENDS ${CMAKE_BINARY_DIR}/dist/kestrel.html)
  install(FILES ${CMAKE_BINARY_DIR}/dist/kestrel.html DESTINATION .)
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
