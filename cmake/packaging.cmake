# The release archive of the Windows build: in build/windows, `cpack` makes
# tavik-<version>-win64.zip with the tray program and its hook library, the
# 32-bit helper and its library from the 32-bit build (TAVIK_WINDOWS32_DIR,
# build/windows32 in the presets: build that preset first), the licence and
# the Japanese user guide with its pictures (docs/ja and docs/images, so that
# the guide's links to ../images resolve), the programs at the top of the
# archive, so that "extract all" gives a folder from which tavik.exe runs as
# it is.
install(PROGRAMS $<TARGET_FILE:tavik> $<TARGET_FILE:tavikhook> DESTINATION .)
install(PROGRAMS ${TAVIK_WINDOWS32_DIR}/tavik32.exe ${TAVIK_WINDOWS32_DIR}/tavikhook32.dll DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/docs/ja/README.md DESTINATION docs/ja OPTIONAL)
file(GLOB tavik_guide_images ${CMAKE_SOURCE_DIR}/docs/images/*.png)
install(FILES ${tavik_guide_images} DESTINATION docs/images)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tavik)
set(CPACK_PACKAGE_VENDOR "the tavik developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Japanese text entry with a thumb-shift keyboard on Windows")
set(tavik_package_name tavik-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_FILE_NAME ${tavik_package_name})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)

# The archive is built once more into a folder of its own and its contents
# listed: exactly the files above, the guide when it exists; the guide's
# links and images must resolve inside the unpacked archive.
add_test(NAME package.zip
  COMMAND ${CMAKE_COMMAND} -DCPACK=${CMAKE_CPACK_COMMAND} -DBINARY_DIR=${CMAKE_BINARY_DIR}
          -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DNAME=${tavik_package_name}
          -P ${CMAKE_SOURCE_DIR}/cmake/check_package.cmake)
