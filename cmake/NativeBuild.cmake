# Native build: unit tests against the fake platform.

# build/static (scripts/rescue-image.sh): the programs linked statically,
# libhivex.a included, so quellor-scan runs on any x86_64 Linux. Their iconv
# is the build's own (rescue/StaticIconv.cpp): glibc's static one reads
# Latin-1 only through modules of the system it runs on.
option(QUELLOR_STATIC "Link the programs statically, libhivex included" OFF)
if(QUELLOR_STATIC)
  set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
  add_link_options(-static)
  add_library(quellor_static_iconv OBJECT ${CMAKE_SOURCE_DIR}/rescue/StaticIconv.cpp)
  target_compile_options(quellor_static_iconv PRIVATE ${QUELLOR_WARNINGS})
  link_libraries(quellor_static_iconv)
endif()

if(QUELLOR_SANITIZE)
  set(QUELLOR_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  foreach(target quellor_engine quellor_fake quellor_ui_logic quellor_console)
    target_compile_options(${target} PUBLIC ${QUELLOR_SANITIZER_FLAGS})
    target_link_options(${target} PUBLIC ${QUELLOR_SANITIZER_FLAGS})
  endforeach()
endif()

find_package(GTest QUIET)
if(NOT GTest_FOUND)
  # Debian ships GoogleTest as sources in /usr/src/googletest.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()
include(GoogleTest)

file(GLOB QUELLOR_UNIT_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp
  ${CMAKE_SOURCE_DIR}/tests/contract/*.cpp)
add_executable(quellor_unit_tests ${QUELLOR_UNIT_TEST_SOURCES})
target_include_directories(quellor_unit_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(quellor_unit_tests PRIVATE quellor_fake quellor_ui_logic GTest::gtest_main)
target_compile_options(quellor_unit_tests PRIVATE ${QUELLOR_WARNINGS})
# Some tests read the shipped resources.
target_compile_definitions(quellor_unit_tests PRIVATE QUELLOR_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
gtest_discover_tests(quellor_unit_tests DISCOVERY_TIMEOUT 60)

# The resources keep the templates, ids, sizes and depths the program expects.
# Python is required: the checks written in it (here and in cmake/native.d)
# must fail the configure when it is missing, never drop out of the run.
find_package(Python3 COMPONENTS Interpreter REQUIRED)
add_test(NAME quellor_resources COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/check-resources.py)

# Extra native pieces (fuzz targets, generators) add themselves here.
file(GLOB QUELLOR_NATIVE_EXTRAS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/native.d/*.cmake)
foreach(extra ${QUELLOR_NATIVE_EXTRAS})
  include(${extra})
endforeach()

# The POSIX backend and the console scanner built over it.
file(GLOB QUELLOR_POSIX_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/posix/*.cpp)
add_library(quellor_posix STATIC ${QUELLOR_POSIX_SOURCES})
target_link_libraries(quellor_posix PUBLIC quellor_engine)
target_compile_options(quellor_posix PRIVATE ${QUELLOR_WARNINGS})

# The registry of a Windows disk that is not running: its hive files, read
# and written through libhivex (native only; the Windows builds never have
# it). The test hive maker uses the same library.
find_package(PkgConfig REQUIRED)
pkg_check_modules(HIVEX REQUIRED IMPORTED_TARGET hivex)
file(GLOB QUELLOR_HIVE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/hive/*.cpp)
add_library(quellor_hive STATIC ${QUELLOR_HIVE_SOURCES})
# Hives are reached below folders held open (platform/posix/HeldFolder.h).
target_link_libraries(quellor_hive PUBLIC quellor_engine quellor_posix PkgConfig::HIVEX)
target_compile_options(quellor_hive PRIVATE ${QUELLOR_WARNINGS})
add_library(quellor_hive_maker STATIC ${CMAKE_SOURCE_DIR}/tests/fixtures/HiveMaker.cpp)
target_include_directories(quellor_hive_maker PUBLIC ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(quellor_hive_maker PUBLIC quellor_engine PkgConfig::HIVEX)
target_compile_options(quellor_hive_maker PRIVATE ${QUELLOR_WARNINGS})

# The console scanner's Linux hosts: named folders, and a Windows disk that
# is not running (--offline ROOT).
add_library(quellor_console_posix STATIC
  ${CMAKE_SOURCE_DIR}/app/console/PosixHost.cpp
  ${CMAKE_SOURCE_DIR}/app/console/OfflineDisk.cpp
  ${CMAKE_SOURCE_DIR}/app/console/OfflineHost.cpp)
target_link_libraries(quellor_console_posix PUBLIC quellor_console quellor_posix quellor_hive)
target_compile_options(quellor_console_posix PRIVATE ${QUELLOR_WARNINGS})

add_executable(quellor-scan ${CMAKE_SOURCE_DIR}/app/console/PosixMain.cpp)
target_link_libraries(quellor-scan PRIVATE quellor_console_posix)
target_compile_options(quellor-scan PRIVATE ${QUELLOR_WARNINGS})

# The demo drive's harmless detectable files, for the console scanner.
add_executable(make_demo_samples ${CMAKE_SOURCE_DIR}/demo/DemoSamples.cpp)
target_include_directories(make_demo_samples PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(make_demo_samples PRIVATE quellor_engine)
target_compile_options(make_demo_samples PRIVATE ${QUELLOR_WARNINGS})

# The POSIX backend against the platform contract, and quellor-scan run as a
# program over scratch folders.
file(GLOB QUELLOR_CONSOLE_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/tests/console/*.cpp
  ${CMAKE_SOURCE_DIR}/tests/contract/*.cpp)
add_executable(quellor_console_tests ${QUELLOR_CONSOLE_TEST_SOURCES})
target_include_directories(quellor_console_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(quellor_console_tests PRIVATE quellor_console_posix quellor_hive_maker quellor_fake
  GTest::gtest_main)
target_compile_options(quellor_console_tests PRIVATE ${QUELLOR_WARNINGS})
target_compile_definitions(quellor_console_tests PRIVATE QUELLOR_SCAN_PATH="$<TARGET_FILE:quellor-scan>")
add_dependencies(quellor_console_tests quellor-scan)
gtest_discover_tests(quellor_console_tests DISCOVERY_TIMEOUT 60)

# The rules by which the Wine passes run, skip or fail, with stand-in
# loaders.
add_test(NAME wine_pass_rules COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/wine_lib_rules.sh)
