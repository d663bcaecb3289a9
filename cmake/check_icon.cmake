# A committed icon is what make_icon.py draws today (FLAGS: --paused for the paused one).
# Usage: cmake -DPYTHON=path -DSCRIPT=make_icon.py -DICON=tavik.ico -DOUT=path [-DFLAGS=...] -P check_icon.cmake
execute_process(COMMAND ${PYTHON} ${SCRIPT} ${OUT} ${FLAGS} RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${SCRIPT} failed:\n${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${ICON} RESULT_VARIABLE differ)
if(differ)
  message(FATAL_ERROR "${ICON} differs from what ${SCRIPT} draws: run\n  python3 ${SCRIPT} ${ICON} ${FLAGS}\nand commit the icon")
endif()
