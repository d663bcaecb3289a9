# Every relative link and image of the guides names a file that exists:
# "[text](path)" and "![text](path)", resolved against the guide's own
# folder; web addresses and links within the page are not looked at.
# Usage: cmake -DROOT=dir -DGUIDES="README.md;docs/ja/README.md" -P check_links.cmake
# Other scripts include it for tavik_check_links(root guide...).

# Fails naming every link of the guides (paths under root) that does not resolve.
function(tavik_check_links root)
  set(broken "")
  set(count 0)
  foreach(guide IN LISTS ARGN)
    if(NOT EXISTS ${root}/${guide})
      list(APPEND broken "${guide}: no such guide")
      continue()
    endif()
    file(READ ${root}/${guide} text)
    get_filename_component(folder ${root}/${guide} DIRECTORY)
    # Brackets and semicolons mean something to CMake's lists: the link's
    # "](" becomes a marker and they go.
    string(REPLACE "](" "@LINK@(" text "${text}")
    string(REGEX REPLACE "[][;]" " " text "${text}")
    string(REGEX MATCHALL "@LINK@\\([^)]*\\)" links "${text}")
    foreach(link IN LISTS links)
      string(REGEX REPLACE "^@LINK@\\(<?([^ )>]*)>?.*\\)$" "\\1" target "${link}")
      if(target MATCHES "^[A-Za-z][A-Za-z0-9+.-]*:" OR target MATCHES "^#")
        continue()
      endif()
      string(REGEX REPLACE "#.*$" "" path "${target}")
      math(EXPR count "${count} + 1")
      if(path STREQUAL "" OR NOT EXISTS ${folder}/${path})
        list(APPEND broken "${guide}: ${target}")
      endif()
    endforeach()
  endforeach()
  if(broken)
    list(JOIN broken "\n  " lines)
    message(FATAL_ERROR "links that lead nowhere:\n  ${lines}")
  endif()
  message(STATUS "${count} relative links resolve")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  tavik_check_links(${ROOT} ${GUIDES})
endif()
