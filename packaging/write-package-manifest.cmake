# CPack pre-build script: writes the integrity manifest into the staged mdbwarden-cli
# package once CPack has installed (and stripped) every component, so that it hashes the
# files exactly as the packages ship them. It lists the files of both packages: the
# desktop package depends on this very version of mdbwarden-cli, and the command-line
# programs check their companions against the same manifest without the desktop package.
set(_staged_dirs "")
foreach(_component IN LISTS CPACK_COMPONENTS_ALL)
  list(APPEND _staged_dirs "${CPACK_TEMPORARY_DIRECTORY}/${_component}${CPACK_PACKAGING_INSTALL_PREFIX}")
endforeach()
set(DIST_DIR "${CPACK_TEMPORARY_DIRECTORY}/cli${CPACK_PACKAGING_INSTALL_PREFIX}")
string(JOIN "|" SOURCE_DIRS ${_staged_dirs})
string(JOIN "|" ENTRIES ${CPACK_MDB_MANIFEST_ENTRIES})
set(OUTPUT mdbwarden.sha256)
include("${CPACK_MDB_MANIFEST_SCRIPT}")
