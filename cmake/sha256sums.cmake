# Run by CPack once the package's files are staged and before they are
# archived: SHA256SUMS at the package's top holds the hash of every other
# file, in the form `sha256sum -c SHA256SUMS` reads.
cmake_policy(VERSION 3.25)
set(top "${CPACK_TEMPORARY_DIRECTORY}")
if(NOT IS_DIRECTORY "${top}")
  message(FATAL_ERROR "sha256sums: no staged package at \"${top}\"")
endif()
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${top}" "${top}/*")
list(REMOVE_ITEM files SHA256SUMS)
list(SORT files)
set(sums "")
foreach(f IN LISTS files)
  file(SHA256 "${top}/${f}" hash)
  string(APPEND sums "${hash}  ${f}\n")
endforeach()
file(WRITE "${top}/SHA256SUMS" "${sums}")
