# Runs tavik-sim on a recording and checks its exit code and what it said:
#   SIM     the tavik-sim to run
#   ARGS    its arguments, separated by |
#   RC      the exit code it must give
#   STDOUT  a regular expression its output must match (optional)
#   STDERR  a regular expression its errors must match; without it, it must
#           say nothing on stderr
string(REPLACE "|" ";" args "${ARGS}")
execute_process(COMMAND ${SIM} ${args} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL RC)
  message(FATAL_ERROR "exit code ${rc}, expected ${RC}\n${out}${err}")
endif()
if(DEFINED STDOUT AND NOT out MATCHES "${STDOUT}")
  message(FATAL_ERROR "output does not match ${STDOUT}:\n${out}")
endif()
if(DEFINED STDERR)
  if(NOT err MATCHES "${STDERR}")
    message(FATAL_ERROR "errors do not match ${STDERR}:\n${err}")
  endif()
elseif(NOT err STREQUAL "")
  message(FATAL_ERROR "unexpected errors:\n${err}")
endif()
