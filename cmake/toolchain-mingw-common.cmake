# What both cross toolchains share: mingw-w64 compilers for
# QUELLOR_MINGW_ARCH (i686 or x86_64), set by the toolchain file that
# includes this one. QUELLOR_MINGW_THREADS selects the compilers' threading
# model: "win32" (the default, whose static runtime needs no winpthreads and
# loads on Windows 98 and NT 4.0) or "posix".
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QUELLOR_MINGW_ARCH})

if(NOT DEFINED QUELLOR_MINGW_THREADS)
  set(QUELLOR_MINGW_THREADS win32)
endif()
set(QUELLOR_MINGW_THREADS ${QUELLOR_MINGW_THREADS} CACHE STRING "mingw-w64 threading model")

set(CMAKE_C_COMPILER ${QUELLOR_MINGW_ARCH}-w64-mingw32-gcc-${QUELLOR_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${QUELLOR_MINGW_ARCH}-w64-mingw32-g++-${QUELLOR_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${QUELLOR_MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUELLOR_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
