# SPDX-License-Identifier: GPL-3.0-or-later
# Every target names its sources one per line. This check keeps those lists and the folder in
# step, at configure time: a listed file that is gone, or a C++ file of the folder that no list
# names (it would be silently left out of the build), stops the configuration with its name.
#   velkorant_check_source_list(file...)   paths relative to the calling CMakeLists.txt's folder,
#                                          every list of that folder together
function(velkorant_check_source_list)
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})
  file(RELATIVE_PATH shown ${CMAKE_SOURCE_DIR} ${dir})
  set(problems)
  foreach(file IN LISTS ARGN)
    if(NOT EXISTS ${dir}/${file})
      list(APPEND problems "  ${shown}/${file} is listed but is not in the tree")
    endif()
  endforeach()
  file(GLOB_RECURSE present RELATIVE ${dir} ${dir}/*.cpp ${dir}/*.h)
  foreach(file IN LISTS present)
    if(NOT file IN_LIST ARGN)
      list(APPEND problems "  ${shown}/${file} is in the tree but in no source list")
    endif()
  endforeach()
  if(problems)
    list(JOIN problems "\n" text)
    message(FATAL_ERROR "The source lists of ${shown}/CMakeLists.txt do not match the folder:\n"
                        "${text}\nAdd or remove the line in the list.")
  endif()
endfunction()
