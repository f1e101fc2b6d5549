# Cross build for 64-bit Windows (XP x64 and later) with mingw-w64.
# QUELLOR_MINGW_THREADS selects the compilers' threading model, as in the
# i686 toolchain; "win32" keeps the runtime free of winpthreads.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

if(NOT DEFINED QUELLOR_MINGW_THREADS)
  set(QUELLOR_MINGW_THREADS win32)
endif()
set(QUELLOR_MINGW_THREADS ${QUELLOR_MINGW_THREADS} CACHE STRING "mingw-w64 threading model")

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-${QUELLOR_MINGW_THREADS})
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-${QUELLOR_MINGW_THREADS})
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
