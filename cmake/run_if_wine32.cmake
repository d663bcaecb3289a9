# Runs a test that needs Wine to run 32-bit programs, or reports it skipped
# where Wine cannot: a kernel whose IA-32 emulation is switched off runs no
# 32-bit program at all, and there scripts/setup.sh leaves Debian's wine32
# out. The probe is a 32-bit program that exits with 32.
# Usage: cmake -DWINE=wine -DPROBE=wine32-probe.exe "-DCOMMAND=program|arg|..." -P run_if_wine32.cmake
if(NOT EXISTS "${PROBE}")
  message("skipped: ${PROBE} is not built; build the windows32 preset first")
  return()
endif()
execute_process(COMMAND ${WINE} ${PROBE} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET TIMEOUT 120)
if(NOT rc STREQUAL "32")
  message("skipped: Wine runs no 32-bit programs on this machine (the probe gave ${rc})")
  return()
endif()
string(REPLACE "|" ";" command "${COMMAND}")
execute_process(COMMAND ${command} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${rc}")
endif()
