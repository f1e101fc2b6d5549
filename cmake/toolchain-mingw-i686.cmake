# Cross build for 32-bit Windows with mingw-w64.
# QUELLOR_MINGW_THREADS selects the compilers' threading model: "win32" (the
# default, whose static runtime loads on Windows 98 and NT 4.0) or "posix".
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

if(NOT DEFINED QUELLOR_MINGW_THREADS)
  set(QUELLOR_MINGW_THREADS win32)
endif()
set(QUELLOR_MINGW_THREADS ${QUELLOR_MINGW_THREADS} CACHE STRING "mingw-w64 threading model")

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-${QUELLOR_MINGW_THREADS})
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-${QUELLOR_MINGW_THREADS})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
