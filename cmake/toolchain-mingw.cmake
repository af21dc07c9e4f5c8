# Cross build for Windows with MinGW-w64, for the architecture in VEL_MINGW_ARCH:
#   i686    the shipped 32-bit installer, tested in the 32-bit runner (emulated i386 Wine)
#   x86_64  the same sources, tested under the machine's own 64-bit Wine (fast)
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

# Test programs run through a Wine wrapper (private prefix, code page 936, Xvfb): the machine's
# own Wine for x86_64; for i686 the chroot with Wine's 32-bit half (scripts/runner32-setup.sh).
if(VEL_MINGW_ARCH STREQUAL "x86_64")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine32-run.sh)
endif()
