# The uninstall target: removes every file a cmake --install listed, then
# the folders those files were in, up to the prefix they share, that are
# left empty. A folder that still holds anything (an older install's state,
# another program's files) stays; no account's state is in the prefix.
#
#   cmake -D MANIFEST=build/installed_files.txt -P cmake/QvUninstall.cmake
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "Nothing to uninstall: ${MANIFEST} does not exist (cmake --install writes it)")
endif()
file(STRINGS "${MANIFEST}" files)
if(NOT files)
  return()
endif()

# Whether path is folder or lies below it.
function(qv_within path folder result)
  string(FIND "${path}/" "${folder}/" at)
  if(at EQUAL 0)
    set(${result} TRUE PARENT_SCOPE)
  else()
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

# The prefix: the deepest folder that holds every listed file.
list(GET files 0 first)
get_filename_component(prefix "${first}" DIRECTORY)
foreach(file IN LISTS files)
  qv_within("${file}" "${prefix}" inside)
  while(NOT inside AND NOT prefix STREQUAL "/")
    get_filename_component(prefix "${prefix}" DIRECTORY)
    qv_within("${file}" "${prefix}" inside)
  endwhile()
endforeach()

set(folders "")
foreach(file IN LISTS files)
  if(IS_SYMLINK "${file}" OR EXISTS "${file}")
    message(STATUS "Removing: ${file}")
    file(REMOVE "${file}")
  endif()
  get_filename_component(folder "${file}" DIRECTORY)
  qv_within("${folder}" "${prefix}" inside)
  while(inside AND NOT folder STREQUAL "/")
    list(APPEND folders "${folder}")
    get_filename_component(folder "${folder}" DIRECTORY)
    qv_within("${folder}" "${prefix}" inside)
  endwhile()
endforeach()
list(REMOVE_DUPLICATES folders)
# Deeper folders first: a path is longer than its parent's.
list(SORT folders ORDER DESCENDING)
foreach(folder IN LISTS folders)
  file(GLOB left LIST_DIRECTORIES true "${folder}/*")
  if(IS_DIRECTORY "${folder}" AND NOT IS_SYMLINK "${folder}" AND NOT left)
    message(STATUS "Removing: ${folder}/")
    execute_process(COMMAND rmdir "${folder}")
  endif()
endforeach()
