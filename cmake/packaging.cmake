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

# The installer, tavik-<version>-setup.exe beside the archive: the same
# program files for the user's own folder, with shortcuts and an uninstaller
# (installer/tavik.nsi), made by NSIS's makensis (Debian package nsis).
find_program(TAVIK_MAKENSIS makensis)
set(tavik_setup_name tavik-${PROJECT_VERSION}-setup.exe)
set(tavik_setup_inputs $<TARGET_FILE:tavik> $<TARGET_FILE:tavikhook>
    ${TAVIK_WINDOWS32_DIR}/tavik32.exe ${TAVIK_WINDOWS32_DIR}/tavikhook32.dll)
if(TAVIK_MAKENSIS AND EXISTS ${TAVIK_WINDOWS32_DIR}/tavik32.exe)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${tavik_setup_name}
    COMMAND ${TAVIK_MAKENSIS} -V2 -INPUTCHARSET UTF8
            -DVERSION=${PROJECT_VERSION} -DOUTFILE=${CMAKE_BINARY_DIR}/${tavik_setup_name}
            -DICON=${CMAKE_SOURCE_DIR}/tray/win32/tavik.ico -DLICENSE_FILE=${CMAKE_SOURCE_DIR}/LICENSE
            -DTAVIK_EXE=$<TARGET_FILE:tavik> -DTAVIKHOOK_DLL=$<TARGET_FILE:tavikhook>
            -DTAVIK32_EXE=${TAVIK_WINDOWS32_DIR}/tavik32.exe -DTAVIKHOOK32_DLL=${TAVIK_WINDOWS32_DIR}/tavikhook32.dll
            ${CMAKE_SOURCE_DIR}/installer/tavik.nsi
    DEPENDS ${CMAKE_SOURCE_DIR}/installer/tavik.nsi ${CMAKE_SOURCE_DIR}/tray/win32/tavik.ico
            ${CMAKE_SOURCE_DIR}/LICENSE ${tavik_setup_inputs}
    COMMENT "Making ${tavik_setup_name}" VERBATIM)
  add_custom_target(tavik-setup ALL DEPENDS ${CMAKE_BINARY_DIR}/${tavik_setup_name})
elseif(NOT TAVIK_MAKENSIS)
  message(STATUS "makensis not found: no installer (Debian package nsis; scripts/setup.sh installs it)")
else()
  message(STATUS "no ${TAVIK_WINDOWS32_DIR}/tavik32.exe: no installer (build the windows32 preset first)")
endif()

# The installer on the Wine desktop, in a fresh prefix of its own: a silent
# install, tavik started from its shortcut, an upgrade over the running tavik
# with its hook library held by another program, a silent uninstall.
add_executable(tavik-dll-holder ${CMAKE_SOURCE_DIR}/installer/tests/dll_holder.cpp)
target_link_options(tavik-dll-holder PRIVATE -static -static-libgcc -static-libstdc++)
target_link_libraries(tavik-dll-holder PRIVATE kernel32)
find_program(TAVIK_PYTHON3 python3)
if(TAVIK_PYTHON3)
  add_test(NAME package.setup
    COMMAND ${TAVIK_PYTHON3} ${CMAKE_SOURCE_DIR}/installer/tests/check_setup.py
            ${CMAKE_BINARY_DIR}/${tavik_setup_name} $<TARGET_FILE:tavik-dll-holder> ${tavik_setup_inputs}
            ${CMAKE_SOURCE_DIR}/LICENSE)
else()
  add_test(NAME package.setup COMMAND ${CMAKE_COMMAND} -E echo "skipped: no python3")
endif()
set_tests_properties(package.setup PROPERTIES
  RESOURCE_LOCK desktop TIMEOUT 300 LABELS e2e SKIP_REGULAR_EXPRESSION "skipped:")
