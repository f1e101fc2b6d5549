# Cross build for 64-bit Windows (XP x64 and later) with mingw-w64.
set(QUELLOR_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
