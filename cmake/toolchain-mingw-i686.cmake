# Cross build for 32-bit Windows (PE32: 98 SE and NT 4.0 on) with mingw-w64.
set(QUELLOR_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
