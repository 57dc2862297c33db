# Writes the integrity manifest of a program directory: one line
# "<sha256>  <relative path>" per shipped file, in sha256sum format.
#   -DDIST_DIR=<program directory> -DENTRIES=<relative paths separated by '|'>
#   -DOUTPUT=<manifest file name inside DIST_DIR>
#   -DSOURCE_DIRS=<directories, separated by '|', that hold the entries missing from
#                  DIST_DIR; optional (packages stage their parts in separate trees)>
if(NOT DIST_DIR OR NOT ENTRIES OR NOT OUTPUT)
  message(FATAL_ERROR "write-manifest: DIST_DIR, ENTRIES and OUTPUT are required")
endif()
string(REPLACE "|" ";" _entries "${ENTRIES}")
string(REPLACE "|" ";" _dirs "${DIST_DIR}|${SOURCE_DIRS}")
list(REMOVE_DUPLICATES _entries)
list(SORT _entries)
set(_text "")
foreach(_entry IN LISTS _entries)
  set(_file "")
  foreach(_dir IN LISTS _dirs)
    if(_dir AND EXISTS "${_dir}/${_entry}")
      set(_file "${_dir}/${_entry}")
      break()
    endif()
  endforeach()
  if(NOT _file)
    message(FATAL_ERROR "write-manifest: ${_entry} is missing from ${DIST_DIR}")
  endif()
  file(SHA256 "${_file}" _hash)
  string(APPEND _text "${_hash}  ${_entry}\n")
endforeach()
file(WRITE "${DIST_DIR}/${OUTPUT}.tmp" "${_text}")
file(RENAME "${DIST_DIR}/${OUTPUT}.tmp" "${DIST_DIR}/${OUTPUT}")
