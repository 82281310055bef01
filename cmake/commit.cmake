# Writes commit.h: the commit the sources were built from, asked of git at
# every build (so a build after a new commit says so), or "unknown" where the
# sources are no git work tree (a tarball). The file is rewritten only when
# the commit changed, so nothing is rebuilt otherwise.
# Run as: cmake -DSOURCE_DIR=... -DOUTPUT=... -P commit.cmake
set(commit unknown)
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS ${SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --short=12 HEAD
    OUTPUT_VARIABLE head RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT failed AND head MATCHES "^[0-9a-f]+$")
    set(commit ${head})
  endif()
endif()
set(text "// The commit sweepdirs was built from. Generated at build time.\n#define SWEEPDIRS_COMMIT \"${commit}\"\n")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUTPUT} "${text}")
endif()
