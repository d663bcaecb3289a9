# Builds the release archive into BINARY_DIR/package-check and checks what it
# holds. Usage: cmake -DCPACK=path -DBINARY_DIR=dir -DSOURCE_DIR=dir -DNAME=file-name -P check_package.cmake
set(out ${BINARY_DIR}/package-check)
file(REMOVE_RECURSE ${out})
execute_process(COMMAND ${CPACK} -G ZIP --config ${BINARY_DIR}/CPackConfig.cmake -B ${out}
                WORKING_DIRECTORY ${BINARY_DIR} RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${log}")
endif()
set(zip ${out}/${NAME}.zip)
if(NOT EXISTS ${zip})
  message(FATAL_ERROR "no ${NAME}.zip:\n${log}")
endif()

# Unzip may be missing; CMake reads zip files itself.
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zip} WORKING_DIRECTORY ${out}
                RESULT_VARIABLE rc OUTPUT_VARIABLE listing)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot list ${zip}")
endif()
string(REPLACE "\n" ";" entries "${listing}")
set(files "")
foreach(entry IN LISTS entries)
  if(entry AND NOT entry MATCHES "/$")
    list(APPEND files ${entry})
  endif()
endforeach()
list(SORT files)
message(STATUS "${NAME}.zip: ${files}")

set(expected LICENSE tavik.exe tavikhook.dll tavik32.exe tavikhook32.dll)
if(EXISTS ${SOURCE_DIR}/docs/ja/README.md)
  list(APPEND expected docs/ja/README.md)
endif()
list(SORT expected)
if(NOT files STREQUAL expected)
  message(FATAL_ERROR "${NAME}.zip holds\n  ${files}\nexpected\n  ${expected}")
endif()
