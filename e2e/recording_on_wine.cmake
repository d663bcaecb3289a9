# Records a typing session on the Wine desktop with the real library and the
# test IME, then checks the file: every scenario passed while recording,
# nothing was lost, the file ends with its trailer, and it replays on the
# simulated desktop without a divergence.
# Usage: cmake -DDRIVER=tavik-e2e.exe -DDLL=... -DIME=... -DTARGET=... -DSIM=tavik-sim.exe -DOUT=file
#        "-DSCENARIOS=a.scn|b.scn" -P recording_on_wine.cmake
string(REPLACE "|" ";" scenarios "${SCENARIOS}")
file(REMOVE ${OUT})
execute_process(COMMAND wine ${DRIVER} --dll ${DLL} --ime ${IME} --target ${TARGET} --record ${OUT} ${scenarios}
                OUTPUT_VARIABLE printed RESULT_VARIABLE rc TIMEOUT 280)
message("${printed}")
if(NOT rc EQUAL 0 OR NOT printed MATCHES "[1-9][0-9]* passed, 0 failed")
  message(FATAL_ERROR "the recorded session did not pass (${rc})")
endif()
if(NOT EXISTS ${OUT})
  message(FATAL_ERROR "no recording written")
endif()
file(READ ${OUT} text)
if(NOT text MATCHES "\nstopped lost 0 passed-on [0-9]+\n$")
  message(FATAL_ERROR "the recording has no trailer, or lost records")
endif()
string(REGEX MATCHALL "\nkeystroke " keystrokes "${text}")
list(LENGTH keystrokes count)
message("${count} keystrokes recorded")
if(count LESS 10)
  message(FATAL_ERROR "too few keystrokes recorded")
endif()

# The replay, where tavik-sim has it.
execute_process(COMMAND wine ${SIM} --help OUTPUT_VARIABLE help ERROR_VARIABLE help)
if(help MATCHES "--replay")
  execute_process(COMMAND wine ${SIM} --replay ${OUT} OUTPUT_VARIABLE replayed RESULT_VARIABLE rc)
  message("${replayed}")
  if(NOT rc EQUAL 0 OR NOT replayed MATCHES " 0 diverged")
    message(FATAL_ERROR "the recording does not replay")
  endif()
else()
  message("tavik-sim has no --replay yet: the replay is not checked")
endif()
