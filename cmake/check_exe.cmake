# Checks the built tavik.exe: a GUI program that imports only libraries
# every Windows has, so that it runs from a bare folder.
# Usage: cmake -DEXE=path -DOBJDUMP=path -P check_exe.cmake
if(NOT OBJDUMP)
  set(OBJDUMP x86_64-w64-mingw32-objdump)
endif()

execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE private RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump -p failed on ${EXE}")
endif()

set(failures "")

include(${CMAKE_CURRENT_LIST_DIR}/imports.cmake)
check_imports("${private}" "KERNEL32|USER32|SHELL32|GDI32|COMCTL32|ADVAPI32" failures)

# The manifest (resource type 24, RT_MANIFEST) is among the resource types.
if(NOT private MATCHES "Type Table:[^\n]*\n([^\n]*\n)*[0-9a-f]+   Entry: ID: 0x000018,")
  string(APPEND failures "no manifest resource\n")
endif()

if(NOT private MATCHES "Subsystem[ \t]+00000002")
  string(APPEND failures "not a GUI program (subsystem 2)\n")
endif()

if(failures)
  message(FATAL_ERROR "${EXE}:\n${failures}")
endif()
