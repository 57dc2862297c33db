# Writes the integrity manifest of a program directory: one line
# "<sha256>  <relative path>" per shipped file, in sha256sum format.
#   -DDIST_DIR=<program directory> -DENTRIES=<relative paths separated by '|'>
#   -DOUTPUT=<manifest file name inside DIST_DIR>
if(NOT DIST_DIR OR NOT ENTRIES OR NOT OUTPUT)
  message(FATAL_ERROR "write-manifest: DIST_DIR, ENTRIES and OUTPUT are required")
endif()
string(REPLACE "|" ";" _entries "${ENTRIES}")
list(REMOVE_DUPLICATES _entries)
list(SORT _entries)
set(_text "")
foreach(_entry IN LISTS _entries)
  if(NOT EXISTS "${DIST_DIR}/${_entry}")
    message(FATAL_ERROR "write-manifest: ${DIST_DIR}/${_entry} is missing")
  endif()
  file(SHA256 "${DIST_DIR}/${_entry}" _hash)
  string(APPEND _text "${_hash}  ${_entry}\n")
endforeach()
file(WRITE "${DIST_DIR}/${OUTPUT}.tmp" "${_text}")
file(RENAME "${DIST_DIR}/${OUTPUT}.tmp" "${DIST_DIR}/${OUTPUT}")
