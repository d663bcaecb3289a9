# tavik-sim must answer a malformed file with exit code 2 and one line naming
# the file and the line, and must not run anything from it.
set(file ${SOURCE}/malformed/unterminated_string.scn)
execute_process(COMMAND ${SIM} ${file} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 2)
  message(FATAL_ERROR "exit code ${rc}, expected 2\n${out}${err}")
endif()
if(NOT err MATCHES "unterminated_string\\.scn:3: unterminated string")
  message(FATAL_ERROR "unexpected message: ${err}")
endif()
if(NOT out STREQUAL "")
  message(FATAL_ERROR "ran something from a malformed file:\n${out}")
endif()
