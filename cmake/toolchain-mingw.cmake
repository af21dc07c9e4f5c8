# Cross build for Windows with MinGW-w64, for the architecture in VEL_MINGW_ARCH:
#   i686    the shipped 32-bit installer; this machine cannot run its output
#   x86_64  the same sources, run and tested here under Wine
# e.g. cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw.cmake -DVEL_MINGW_ARCH=i686 ...
if(NOT VEL_MINGW_ARCH)
  set(VEL_MINGW_ARCH "$ENV{VEL_MINGW_ARCH}")
endif()
if(NOT VEL_MINGW_ARCH MATCHES "^(i686|x86_64)$")
  message(FATAL_ERROR "VEL_MINGW_ARCH must be i686 or x86_64 (got '${VEL_MINGW_ARCH}')")
endif()
# try_compile projects read this file again without the cache: hand the choice on to them.
set(ENV{VEL_MINGW_ARCH} "${VEL_MINGW_ARCH}")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VEL_MINGW_ARCH)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${VEL_MINGW_ARCH})
set(VEL_MINGW_TRIPLE ${VEL_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER   ${VEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${VEL_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(VEL_MINGW_ARCH STREQUAL "x86_64")
  # Test programs run through the Wine wrapper (private prefix, code page 936, Xvfb).
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
endif()
