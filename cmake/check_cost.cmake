# Counts the instructions the keyboard hook spends per keystroke, under
# callgrind, and fails above the budgets. The counts do not depend on the
# machine: the platform's calls are a null platform's, so what is counted is
# the library's own work.
# Usage: cmake -DCOST=path/to/tavik_keystroke_cost -DVALGRIND=path -P check_cost.cmake
set(count 10000)
# Instructions per keystroke, with the reasons in README.md ("What a
# keystroke costs").
set(budget_bare 45)
set(budget_unclaimed-off 60)
set(budget_unclaimed-on 60)
set(budget_at-kana 300)
set(budget_trace 600)
# And a key no stage claims against the bare pass-through, in hundredths.
set(budget_ratio 160)

string(RANDOM LENGTH 8 tag)
set(failures "")
foreach(case bare unclaimed-off unclaimed-on at-kana trace)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/callgrind.${case}.${tag})
  execute_process(COMMAND ${VALGRIND} --tool=callgrind --instr-atstart=no --callgrind-out-file=${out}
                          ${COST} ${case} ${count}
                  OUTPUT_VARIABLE printed ERROR_QUIET RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT EXISTS ${out})
    message(FATAL_ERROR "callgrind failed on ${case}")
  endif()
  file(STRINGS ${out} totals REGEX "^totals: ")
  file(REMOVE ${out})
  string(REGEX REPLACE "^totals: ([0-9]+).*" "\\1" total "${totals}")
  math(EXPR per "(${total} + ${count} / 2) / ${count}")
  string(STRIP "${printed}" printed)
  message(STATUS "${case}: ${per} instructions per keystroke (budget ${budget_${case}}); ${printed}")
  if(per GREATER budget_${case})
    string(APPEND failures "${case}: ${per} instructions per keystroke, budget ${budget_${case}}\n")
  endif()
  set(per_${case} ${per})
endforeach()

foreach(case unclaimed-off unclaimed-on)
  math(EXPR ratio "(${per_${case}} * 100 + ${per_bare} / 2) / ${per_bare}")
  message(STATUS "${case}: ${ratio}/100 of the bare pass-through (budget ${budget_ratio}/100)")
  if(ratio GREATER budget_ratio)
    string(APPEND failures "${case}: ${ratio}/100 of the bare pass-through, budget ${budget_ratio}/100\n")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "over budget:\n${failures}")
endif()
