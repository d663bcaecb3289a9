# Checks a built hook library (tavikhook.dll or tavikhook32.dll): what every
# process that takes keyboard input gets when Windows loads it there.
#   - the four exports;
#   - our own entry point and nothing of the C runtime's start-up: no TLS
#     directory or .tls section (TLS callbacks run at every thread's start
#     and end), no .CRT section (initialiser tables), no static constructor
#     in any object file;
#   - imports from kernel32, user32 and imm32 only of the calls the platform
#     layer makes, and from the C runtime at most clock and a few string and
#     memory functions;
#   - no shared section: the block both bitnesses share is a named mapping;
#   - a small file.
# Usage: cmake -DDLL=path -DOBJDUMP=path [-DOBJECTS=a.obj|b.obj] -P check_dll.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT OBJDUMP)
  set(OBJDUMP x86_64-w64-mingw32-objdump)
endif()

# objdump's headings are translated in some locales (the Wine tests run in
# Japanese): read them in the C locale.
set(objdump ${CMAKE_COMMAND} -E env LC_ALL=C ${OBJDUMP})
execute_process(COMMAND ${objdump} -p ${DLL} OUTPUT_VARIABLE private RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump -p failed on ${DLL}")
endif()
execute_process(COMMAND ${objdump} -h ${DLL} OUTPUT_VARIABLE headers)

set(failures "")

# The export table's name list: exactly the three the tray program binds.
string(REPLACE "\n" ";" lines "${private}")
set(exports "")
set(in_names FALSE)
foreach(line IN LISTS lines)
  if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(in_names TRUE)
  elseif(in_names AND line MATCHES "^\t\\[ *[0-9]+\\] (.+)$")
    list(APPEND exports ${CMAKE_MATCH_1})
  elseif(in_names)
    set(in_names FALSE)
  endif()
endforeach()
list(SORT exports)
message(STATUS "exports: ${exports}")
if(NOT exports STREQUAL "HookEnd;HookRecord;HookReleaseOwedKeys;HookStart")
  string(APPEND failures "exports ${exports}, expected HookEnd, HookRecord, HookReleaseOwedKeys and HookStart only\n")
endif()

# Start-up code and the tables it walks.
foreach(section .tls .CRT .ctors .dtors .sharedd)
  if(headers MATCHES "[0-9] +\\${section}[ \n]")
    string(APPEND failures "section ${section}\n")
  endif()
endforeach()
if(headers MATCHES "SHARED")
  string(APPEND failures "a section marked SHARED\n")
endif()
if(private MATCHES "Entry 9 +0*[1-9a-f][0-9a-f]* ")
  string(APPEND failures "a TLS directory\n")
endif()
if(private MATCHES "AddressOfEntryPoint[ \t]+0+\n")
  string(APPEND failures "no entry point\n")
endif()

# Imports, by library.
set(allowed_KERNEL32 CloseHandle CreateFileMappingA DisableThreadLibraryCalls GetCurrentProcessId GetCurrentThreadId
    GetModuleFileNameA GetPrivateProfileStringA GetTickCount GlobalAlloc GlobalFree GlobalLock MapViewOfFile
    OpenFileMappingA UnmapViewOfFile)
set(allowed_USER32 CallNextHookEx GetAsyncKeyState GetFocus GetKeyState GetKeyboardLayout SendInput SetWindowsHookExA
    UnhookWindowsHookEx keybd_event)
set(allowed_IMM32 ImmConfigureIMEA ImmGetCandidateListA ImmGetCompositionStringA ImmGetContext ImmGetConversionStatus
    ImmGetIMEFileNameA ImmGetOpenStatus ImmNotifyIME ImmReleaseContext ImmSetConversionStatus ImmSetOpenStatus)
set(allowed_MSVCRT clock memcmp memcpy memmove memset strcmp strlen strncmp)

set(dll "")
set(dlls "")
foreach(line IN LISTS lines)
  if(line MATCHES "DLL Name: ([^ \t]+)")
    string(TOUPPER "${CMAKE_MATCH_1}" dll)
    string(REGEX REPLACE "\\.DLL$" "" dll "${dll}")
    list(APPEND dlls ${dll})
    set(imports_${dll} "")
  elseif(dll AND line MATCHES "^\t[0-9a-f]+[ \t]+[0-9]+[ \t]+([A-Za-z_][A-Za-z0-9_@]*)$")
    list(APPEND imports_${dll} ${CMAKE_MATCH_1})
  elseif(line STREQUAL "")
    set(dll "")
  endif()
endforeach()
if(NOT dlls)
  string(APPEND failures "no imports found\n")
endif()
foreach(dll IN LISTS dlls)
  message(STATUS "${dll}: ${imports_${dll}}")
  if(NOT DEFINED allowed_${dll})
    string(APPEND failures "unexpected import library ${dll}\n")
    continue()
  endif()
  foreach(name IN LISTS imports_${dll})
    if(NOT name IN_LIST allowed_${dll})
      string(APPEND failures "unexpected import ${dll}!${name}\n")
    endif()
  endforeach()
endforeach()

# Nothing that would need a constructor run at load: no object file brings
# an initialiser table (the linker would keep one that nobody calls).
string(REPLACE "|" ";" objects "${OBJECTS}")
foreach(object IN LISTS objects)
  execute_process(COMMAND ${objdump} -h ${object} OUTPUT_VARIABLE object_headers)
  if(object_headers MATCHES "[0-9] +(\\.ctors|\\.init_array|\\.CRT\\$XC[A-Z]*|\\.tls)[^ \n]*")
    get_filename_component(name ${object} NAME)
    string(APPEND failures "${name}: section ${CMAKE_MATCH_1}\n")
  endif()
endforeach()

file(SIZE ${DLL} size)
message(STATUS "size: ${size} bytes")
if(size GREATER 65536)
  string(APPEND failures "${size} bytes, more than 64 KB\n")
endif()

if(failures)
  message(FATAL_ERROR "${DLL}:\n${failures}")
endif()
