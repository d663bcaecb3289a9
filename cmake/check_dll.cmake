# Checks the built tavikhook.dll: exports, imports, shared section, size.
# Usage: cmake -DDLL=path -DOBJDUMP=path -P check_dll.cmake
if(NOT OBJDUMP)
  set(OBJDUMP x86_64-w64-mingw32-objdump)
endif()

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE private RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump -p failed on ${DLL}")
endif()
execute_process(COMMAND ${OBJDUMP} -h ${DLL} OUTPUT_VARIABLE headers)

set(failures "")

foreach(export HookStart HookEnd)
  if(NOT private MATCHES "\\][ \t]+${export}\n")
    string(APPEND failures "export ${export} missing\n")
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/imports.cmake)
check_imports("${private}" "KERNEL32|USER32|IMM32" failures)

if(NOT headers MATCHES "\\.sharedd[^\n]*\n[^\n]*SHARED")
  string(APPEND failures "no .sharedd section marked SHARED\n")
endif()

file(SIZE ${DLL} size)
message(STATUS "size: ${size} bytes")
if(size GREATER 65536)
  string(APPEND failures "${size} bytes, more than 64 KB\n")
endif()

if(failures)
  message(FATAL_ERROR "${DLL}:\n${failures}")
endif()
