# What tavik-sim prints: an account by default, the calls with --trace, the
# verdicts and the summary the same in both; and its options.

function(run)
  execute_process(COMMAND ${SIM} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(rc "${rc}" PARENT_SCOPE)
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

# Each LINES entry must be a whole line of `text`; no ABSENT entry may be in it.
function(check what text)
  cmake_parse_arguments(ARG "" "" "LINES;ABSENT" ${ARGN})
  foreach(line IN LISTS ARG_LINES)
    string(FIND "\n${text}\n" "\n${line}\n" at)
    if(at EQUAL -1)
      message(SEND_ERROR "${what}: no line '${line}'")
      set(failed TRUE)
    endif()
  endforeach()
  foreach(piece IN LISTS ARG_ABSENT)
    string(FIND "${text}" "${piece}" at)
    if(NOT at EQUAL -1)
      message(SEND_ERROR "${what}: '${piece}' should not be there")
      set(failed TRUE)
    endif()
  endforeach()
  if(failed)
    message(FATAL_ERROR "${what} printed:\n${text}")
  endif()
endfunction()

set(scenarios ${ROOT}/examples/conversion-key-commits-katakana.scn ${SOURCE}/enter-commits.scn)
set(verdicts
  "PASS henkan commits the waiting katakana as typed, not converted"
  "  FAIL 8: expect committed \"ア\"  (expected \"\\x83A\", got \"\\x83J\")"
  "FAIL Enter commits what was composed (1 failed)"
  "2 passed, 1 failed")

run(${scenarios})
check("the account" "${out}" LINES ${verdicts}
  "  settings: OASYS KAKUTEI=1, KAKUTEI INPUT=1"
  "  typed [henkan down]  (IME on, full-width katakana, kana input)"
  "  IME converted \"カ\" to \"変換\", told to undo the conversion"
  "  IME committed \"カ\""
  "  editor's text: \"aカ\""
  ABSENT "GetFocus()" "keybd_event")

run(--trace ${scenarios})
check("the trace" "${out}" LINES ${verdicts}
  "  GetFocus() = editor"
  "  commit \"カ\" [83 4A]"
  ABSENT "  typed [" "editor's text")

run(--help)
check("--help (exit ${rc})" "${rc}\n${out}" LINES 0 "  --trace    every platform call the hook makes, instead of the account")
run(--version)
check("--version" "${out}" LINES "tavik-sim ${VERSION}")
run(--bogus ${scenarios})
check("a bad option (exit ${rc})" "${rc}\n${out}${err}" LINES 2 "tavik-sim: unknown option --bogus"
  "usage: tavik-sim [--trace] FILE-OR-FOLDER..." ABSENT "=== ")
