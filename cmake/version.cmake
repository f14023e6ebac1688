# The release as the build reports it: juxs_version.h for hostsim --version,
# and the install guide with the release in its title. Both carry the commit
# (git describe) when the sources are a checkout. Run at every build, so the
# commit is never stale; a file is rewritten only when it changes.
#   cmake -DSOURCE_DIR=... -DVERSION=1.2.3 -DOUT=DIR -P cmake/version.cmake
cmake_policy(VERSION 3.25)

set(commit "")
find_program(JUXS_GIT git)
if(JUXS_GIT AND EXISTS "${SOURCE_DIR}/.git")
  execute_process(COMMAND "${JUXS_GIT}" -C "${SOURCE_DIR}" describe --tags --always --dirty
    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    set(commit "")
  endif()
endif()

function(write_if_changed file content)
  if(EXISTS "${file}")
    file(READ "${file}" old)
    if(old STREQUAL content)
      return()
    endif()
  endif()
  file(WRITE "${file}" "${content}")
endfunction()

write_if_changed("${OUT}/juxs_version.h" "// Written by cmake/version.cmake at build time.
#pragma once
#define JUXS_VERSION \"${VERSION}\"
#define JUXS_COMMIT \"${commit}\" // git describe of the sources; empty outside a checkout
")

# The guide's title names the release; the line under it, the commit.
file(READ "${SOURCE_DIR}/INSTALL.md" guide)
set(title "# Installing JuxsNodes\n")
string(FIND "${guide}" "${title}" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "INSTALL.md does not begin with the line \"# Installing JuxsNodes\", which gets the release")
endif()
set(stamp "# Installing JuxsNodes ${VERSION}\n")
if(commit)
  string(APPEND stamp "\nBuilt from commit `${commit}`.\n")
endif()
string(LENGTH "${title}" skip)
string(SUBSTRING "${guide}" ${skip} -1 rest)
write_if_changed("${OUT}/INSTALL.md" "${stamp}${rest}")
