# Writes the server's build revision header (git's short commit, "-dirty" with local changes), touching it
# only when the revision changed so that a rebuild recompiles nothing else. Run at every build.
#   cmake -DSOURCE_DIR=... -DOUTPUT=... -DVERSION=... -P Revision.cmake
set(revision "unknown")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS ${SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --short=12 HEAD
                  OUTPUT_VARIABLE head OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
  if(NOT failed AND head)
    set(revision ${head})
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} diff --quiet HEAD --
                    RESULT_VARIABLE dirty ERROR_QUIET)
    if(dirty)
      set(revision "${revision}-dirty")
    endif()
  endif()
endif()
# A source package or tarball build may name its revision itself.
if(DEFINED ENV{SKORVALE_REVISION})
  set(revision $ENV{SKORVALE_REVISION})
endif()
set(text "// Generated at build time: the version and revision of this build.\n#pragma once\n#define SKORVALE_VERSION \"${VERSION}\"\n#define SKORVALE_REVISION \"${revision}\"\n")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
  if(old STREQUAL text)
    return()
  endif()
endif()
file(WRITE ${OUTPUT} "${text}")
