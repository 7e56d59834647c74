# Writes contentexe_version.h, the version and commit the programs report (--version)
# and their version resources carry. Run as a script at every build so the commit stays
# current; the file is rewritten only when its text changes, so nothing rebuilds for
# nothing.
#
#   cmake -DCX_VERSION=1.2.3 -DCX_COMMIT=abc -DCX_SOURCE_DIR=... -DCX_OUTPUT=... -P Version.cmake
#
# CX_COMMIT empty: the source tree's commit from git ("-dirty" added when files differ
# from it), or "unknown" outside a git checkout. The release script passes its commit.
if(NOT CX_COMMIT)
  set(CX_COMMIT unknown)
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --short=12 HEAD
                    WORKING_DIRECTORY ${CX_SOURCE_DIR} OUTPUT_VARIABLE head
                    RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT failed AND head)
      set(CX_COMMIT ${head})
      execute_process(COMMAND ${GIT_EXECUTABLE} diff-index --quiet HEAD --
                      WORKING_DIRECTORY ${CX_SOURCE_DIR} RESULT_VARIABLE dirty ERROR_QUIET)
      if(dirty)
        string(APPEND CX_COMMIT -dirty)
      endif()
    endif()
  endif()
endif()

# The numeric version of the version resource: up to four leading dot-separated numbers,
# 0 for the missing ones ("1.2.3-rc1" gives 1, 2, 3, 0).
string(REGEX MATCH "^[0-9]+(\\.[0-9]+)*" lead "${CX_VERSION}")
string(REGEX MATCHALL "[0-9]+" numbers "${lead}")
set(parts "")
foreach(i RANGE 0 3)
  list(LENGTH numbers n)
  if(i LESS n)
    list(GET numbers ${i} part)
    math(EXPR part "${part} % 65536")
  else()
    set(part 0)
  endif()
  list(APPEND parts ${part})
endforeach()
list(JOIN parts ", " numeric)

set(text "// Written by cmake/Version.cmake at build time; do not edit.
#define CX_VERSION_TEXT \"${CX_VERSION}\"
#define CX_VERSION_COMMIT \"${CX_COMMIT}\"
#define CX_VERSION_NUMBERS ${numeric}
")
if(EXISTS ${CX_OUTPUT})
  file(READ ${CX_OUTPUT} old)
else()
  set(old "")
endif()
if(NOT old STREQUAL text)
  file(WRITE ${CX_OUTPUT} "${text}")
endif()
