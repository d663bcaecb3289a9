# check_imports(PRIVATE ALLOWED FAILURES): appends to the variable FAILURES a
# line for each DLL that `objdump -p` output PRIVATE imports and that the
# regular expression ALLOWED (upper-case names) does not match, and one when
# there are no imports at all.
function(check_imports private allowed failures_var)
  set(failures "${${failures_var}}")
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${private}")
  if(NOT imports)
    string(APPEND failures "no imports found\n")
  endif()
  foreach(line IN LISTS imports)
    string(REPLACE "DLL Name: " "" dll "${line}")
    string(TOUPPER "${dll}" dll)
    if(NOT dll MATCHES "^(${allowed}|MSVCRT|UCRTBASE|API-MS-WIN-CRT-[A-Z0-9-]+)\\.DLL$")
      string(APPEND failures "unexpected import ${dll}\n")
    endif()
  endforeach()
  message(STATUS "imports: ${imports}")
  set(${failures_var} "${failures}" PARENT_SCOPE)
endfunction()
