# Cross build for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64).
#   cmake -S . -B build-windows --toolchain cmake/mingw-w64-x86_64.cmake
# The posix thread model: the win32-model compiler of GCC 12 has no std::thread
# or std::mutex. Test programs run under Wine, so ctest works as on Linux.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(JUXS_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${JUXS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${JUXS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${JUXS_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${JUXS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's /usr/bin/wine picks a loader and complains when the 32-bit one is
# missing; the 64-bit loader itself says nothing.
find_program(JUXS_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(JUXS_WINE NAMES wine64 wine)
if(JUXS_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${JUXS_WINE})
endif()
