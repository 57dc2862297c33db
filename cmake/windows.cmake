# Libraries the Windows build compiles from source, as Debian ships no mingw-w64 package of
# them: SQLite from its amalgamation (scripts/fetch-sqlite-amalgamation, pinned and
# hash-checked) and GoogleTest from Debian's googletest source package.

set(MDB_SQLITE_AMALGAMATION_DIR "${CMAKE_BINARY_DIR}/deps/sqlite" CACHE PATH
    "Directory of sqlite3.c and sqlite3.h for the Windows build")
execute_process(
  COMMAND "${CMAKE_SOURCE_DIR}/scripts/fetch-sqlite-amalgamation" "${MDB_SQLITE_AMALGAMATION_DIR}"
  RESULT_VARIABLE _mdb_sqlite_fetch)
if(NOT _mdb_sqlite_fetch EQUAL 0)
  message(FATAL_ERROR "SQLite's amalgamation could not be fetched into ${MDB_SQLITE_AMALGAMATION_DIR}")
endif()
add_library(mdb_sqlite3 STATIC "${MDB_SQLITE_AMALGAMATION_DIR}/sqlite3.c")
target_include_directories(mdb_sqlite3 SYSTEM PUBLIC "${MDB_SQLITE_AMALGAMATION_DIR}")
# Serialized threading as Debian's libsqlite3 has it; no run-time extension loading.
target_compile_definitions(mdb_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION
                                                 SQLITE_DQS=0)
target_compile_options(mdb_sqlite3 PRIVATE -w)
add_library(SQLite::SQLite3 ALIAS mdb_sqlite3)

if(MDB_TESTS)
  set(MDB_GOOGLETEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources (Debian: googletest)")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  # Its targets come with the GTest:: names that find_package(GTest) gives on Linux.
  add_subdirectory("${MDB_GOOGLETEST_SOURCE}" "${CMAKE_BINARY_DIR}/deps/googletest" EXCLUDE_FROM_ALL)
  # Test lists are read when the tests run, under Wine with the test environment set up
  # (scripts/wine-run), not while building.
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
endif()

# Programs and tests run under Wine with a prefix of their own in the build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/scripts/wine-run;${CMAKE_BINARY_DIR}/wine")

# Resource scripts of the window (windres).
enable_language(RC)
