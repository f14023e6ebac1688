# The module as the host gets it on Windows: a 64-bit DLL whose export table
# names _mod_descrip alone and whose imports are system DLLs only (a C++ or
# GCC runtime DLL would have to lie beside it in the host's folder).
#   cmake -DOBJDUMP=... -DDLL=JuxsNodes.p -P check_dll.cmake
cmake_policy(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed (${rc})")
endif()

if(NOT dump MATCHES "file format pei-x86-64" OR NOT dump MATCHES "Magic[ \t]+020b")
  message(FATAL_ERROR "${DLL} is not a 64-bit (PE32+) DLL")
endif()

# Export names: the lines "[   0] name" after the name pointer table heading.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${DLL} has no export name table")
endif()
string(SUBSTRING "${dump}" ${at} -1 exports)
string(FIND "${exports}" "\n\n" end)
string(SUBSTRING "${exports}" 0 ${end} exports)
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" entries "${exports}")
set(names)
foreach(e IN LISTS entries)
  string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" n "${e}")
  list(APPEND names "${n}")
endforeach()
if(NOT names STREQUAL "_mod_descrip")
  message(FATAL_ERROR "${DLL} exports [${names}], not _mod_descrip alone")
endif()

# Imported DLLs: the C runtime and the kernel, which every Windows has.
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
set(allowed kernel32.dll msvcrt.dll ucrtbase.dll)
set(found)
foreach(i IN LISTS imports)
  string(REGEX REPLACE "^DLL Name: " "" n "${i}")
  string(STRIP "${n}" n)
  string(TOLOWER "${n}" lower)
  list(APPEND found "${n}")
  if(NOT lower IN_LIST allowed AND NOT lower MATCHES "^api-ms-win-crt-")
    message(FATAL_ERROR "${DLL} imports ${n}, which is not part of Windows")
  endif()
endforeach()
if(NOT found)
  message(FATAL_ERROR "no imports read from ${DLL}: the dump's format changed?")
endif()
message(STATUS "${DLL}: 64-bit, exports _mod_descrip, imports ${found}")
