# Cross build: the Win32 backend, Quellor.exe and the Win32 test programs.

# The two architectures of the cross build: the PE32 program for every
# 32-bit Windows from 98 SE and NT 4.0 on, and its x64 twin for 64-bit
# Windows from XP x64 on. Each has its Wine prefix kind, the oldest systems
# its imports must load on, and the PE version it declares.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QUELLOR_WINE_ARCH win64)
  set(QUELLOR_OLDEST_SYSTEMS "64-bit Windows XP")
  set(QUELLOR_IMPORT_LISTS ${CMAKE_SOURCE_DIR}/tests/imports-allowed.txt ${CMAKE_SOURCE_DIR}/tests/imports-allowed-x64.txt)
  set(QUELLOR_PE_VERSION 5 2)
  set(QUELLOR_SYMBOL_PREFIX "")
else()
  set(QUELLOR_WINE_ARCH win32)
  set(QUELLOR_OLDEST_SYSTEMS "Windows 98 SE and NT 4.0")
  set(QUELLOR_IMPORT_LISTS ${CMAKE_SOURCE_DIR}/tests/imports-allowed.txt)
  set(QUELLOR_PE_VERSION 4 0)
  set(QUELLOR_SYMBOL_PREFIX "_")
endif()
list(GET QUELLOR_PE_VERSION 0 QUELLOR_PE_MAJOR)
list(GET QUELLOR_PE_VERSION 1 QUELLOR_PE_MINOR)

# Link the runtime statically and declare the oldest system version, so the
# program loads on Windows 95/98/ME and NT 4.0 (4.0), or on XP x64 (5.2).
# No time stamp goes into the PE header: two builds of the same source give
# the same bytes.
set(QUELLOR_WIN32_LINK_OPTIONS
  -static -static-libgcc -static-libstdc++
  -Wl,--major-subsystem-version,${QUELLOR_PE_MAJOR} -Wl,--minor-subsystem-version,${QUELLOR_PE_MINOR}
  -Wl,--major-os-version,${QUELLOR_PE_MAJOR} -Wl,--minor-os-version,${QUELLOR_PE_MINOR}
  -Wl,--no-insert-timestamp)

# QUELLOR_HARDEN builds everything of the cross build, the program and the
# Win32 test programs alike, with stack canaries and the checked forms of the
# C library's copying functions, so the Wine tests run once over a build
# that stops at the first overrun it sees. The shipped program is built
# without them: their support code (GCC's libssp) imports functions that
# are not on the allow list of Windows 98 SE and NT 4.0.
option(QUELLOR_HARDEN "Cross build with -fstack-protector-strong and _FORTIFY_SOURCE" OFF)
if(QUELLOR_HARDEN)
  set(QUELLOR_WIN32_HARDENING -fstack-protector-strong -D_FORTIFY_SOURCE=2)
  add_compile_options(${QUELLOR_WIN32_HARDENING})
  add_link_options(-fstack-protector-strong)
  foreach(target quellor_engine quellor_fake quellor_ui_logic quellor_console)
    target_compile_options(${target} PRIVATE ${QUELLOR_WIN32_HARDENING})
  endforeach()
endif()

# The hardened build really carries the checks: its program calls the
# canary's failure handler and a checked copy.
function(quellor_add_hardening_check)
  add_test(NAME quellor_hardening_present
    COMMAND sh -c "\"$0\" \"$1\" > \"$1.symbols\" && grep -q \" $2__stack_chk_fail$\" \"$1.symbols\" && grep -q \" $2__chk_fail$\" \"$1.symbols\""
            ${CMAKE_NM} $<TARGET_FILE:Quellor> "${QUELLOR_SYMBOL_PREFIX}")
endfunction()

file(GLOB QUELLOR_WIN32_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/win32/*.cpp)
add_library(quellor_win32 STATIC ${QUELLOR_WIN32_SOURCES})
target_link_libraries(quellor_win32 PUBLIC quellor_engine)
target_compile_options(quellor_win32 PRIVATE ${QUELLOR_WARNINGS})
target_compile_definitions(quellor_win32 PUBLIC WINVER=0x0400 _WIN32_WINNT=0x0400 _WIN32_WINDOWS=0x0410)

file(GLOB QUELLOR_APP_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/app/*.cpp
  ${CMAKE_SOURCE_DIR}/ui/*.cpp
  ${CMAKE_SOURCE_DIR}/resources/*.rc)
add_executable(Quellor WIN32 ${QUELLOR_APP_SOURCES})
target_link_libraries(Quellor PRIVATE quellor_win32 quellor_ui_logic)
target_include_directories(Quellor PRIVATE ${CMAKE_SOURCE_DIR}/resources)
target_compile_options(Quellor PRIVATE ${QUELLOR_WARNINGS})
target_link_options(Quellor PRIVATE ${QUELLOR_WIN32_LINK_OPTIONS})

# quellor-scan.exe: the console scanner over the same engine and backend.
add_executable(quellor-scan ${CMAKE_SOURCE_DIR}/app/console/Win32Main.cpp)
target_link_libraries(quellor-scan PRIVATE quellor_console quellor_win32)
target_compile_options(quellor-scan PRIVATE ${QUELLOR_WARNINGS})
target_link_options(quellor-scan PRIVATE ${QUELLOR_WIN32_LINK_OPTIONS})

# Helpers the Win32 test programs and the demo sample maker share: the real
# backend as the platform, whole files written and read, a window recording
# what the scan sends. No main() here: each program brings its own.
file(GLOB QUELLOR_WIN32_TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/support/*.cpp)
add_library(quellor_win32_test_support STATIC ${QUELLOR_WIN32_TEST_SUPPORT_SOURCES})
target_include_directories(quellor_win32_test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(quellor_win32_test_support PUBLIC quellor_win32)
target_compile_options(quellor_win32_test_support PRIVATE ${QUELLOR_WARNINGS})

# Harmless files the program detects, for the demo drive and the tests.
add_executable(make_demo_samples ${CMAKE_SOURCE_DIR}/demo/DemoSamples.cpp)
target_include_directories(make_demo_samples PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(make_demo_samples PRIVATE quellor_engine quellor_win32_test_support)
target_compile_options(make_demo_samples PRIVATE ${QUELLOR_WARNINGS})
target_link_options(make_demo_samples PRIVATE -static -static-libgcc -static-libstdc++)

# The demo of the run script on a machine without a desktop: drives
# Quellor.exe through one scan and keeps a screenshot.
add_executable(run_demo ${CMAKE_SOURCE_DIR}/demo/DemoDriver.cpp)
target_link_libraries(run_demo PRIVATE quellor_win32_test_support)
target_compile_options(run_demo PRIVATE ${QUELLOR_WARNINGS})
target_link_options(run_demo PRIVATE -static -static-libgcc -static-libstdc++)

# Harmless programs the Wine tests run: one that only waits until it is
# ended, and a Win32 service that stops when asked. They carry no pattern;
# a test that needs a running threat places one in a copy at run time.
foreach(program test_waiter test_service)
  add_executable(${program} WIN32 ${CMAKE_SOURCE_DIR}/tests/wine/programs/${program}.cpp)
  target_compile_options(${program} PRIVATE ${QUELLOR_WARNINGS})
  target_link_options(${program} PRIVATE -static -static-libgcc -static-libstdc++)
endforeach()

# The programs may import only functions that the oldest systems of their
# architecture export (checked on the programs as shipped, not on the
# hardened test build).
if(QUELLOR_HARDEN)
  quellor_add_hardening_check()
else()
foreach(program Quellor quellor-scan)
  add_test(NAME ${program}_imports_allowed
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-imports.sh ${CMAKE_OBJDUMP} "${QUELLOR_OLDEST_SYSTEMS}"
            $<TARGET_FILE:${program}> ${QUELLOR_IMPORT_LISTS})
endforeach()
# The check itself must catch an import that is missing from the lists.
add_test(NAME quellor_imports_check_rejects_unlisted
  COMMAND sh -c "s=$0 o=$1 y=$2 p=$3; shift 3; cat \"$@\" | grep -v ExitWindowsEx > \"$p.list\" && exec \"$s\" \"$o\" \"$y\" \"$p\" \"$p.list\""
          ${CMAKE_SOURCE_DIR}/scripts/check-imports.sh ${CMAKE_OBJDUMP} "${QUELLOR_OLDEST_SYSTEMS}"
          $<TARGET_FILE:Quellor> ${QUELLOR_IMPORT_LISTS})
set_tests_properties(quellor_imports_check_rejects_unlisted PROPERTIES
  PASS_REGULAR_EXPRESSION "not known to exist on ${QUELLOR_OLDEST_SYSTEMS}:\n  USER32.DLL ExitWindowsEx\n*$")
# Two builds of the same source in different folders give the same bytes.
add_test(NAME programs_are_reproducible
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-reproducible.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}
          ${CMAKE_TOOLCHAIN_FILE})
set_tests_properties(programs_are_reproducible PROPERTIES TIMEOUT 900 RUN_SERIAL TRUE)
endif()

# Win32 test programs run under Wine, each in a copy of one prefix made once
# per test run. A program's scenario hooks live beside it in tests/wine/.
add_test(NAME wine_prefix_setup
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh base ${CMAKE_BINARY_DIR}/wine)
# A machine that cannot run Wine reports these tests as skipped (exit 77).
set(QUELLOR_WINE_SKIP_CODE 77)
set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 600
  SKIP_RETURN_CODE ${QUELLOR_WINE_SKIP_CODE} ENVIRONMENT QUELLOR_WINE_ARCH=${QUELLOR_WINE_ARCH})

add_library(quellor_wine_harness STATIC ${CMAKE_SOURCE_DIR}/tests/wine/harness/Harness.cpp)
target_include_directories(quellor_wine_harness PUBLIC ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(quellor_wine_harness PUBLIC quellor_win32 quellor_win32_test_support quellor_fake)
target_compile_options(quellor_wine_harness PRIVATE ${QUELLOR_WARNINGS})

# The platform contract cases run against the real backend as well.
file(GLOB QUELLOR_CONTRACT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/contract/*.cpp)
target_sources(quellor_wine_harness PRIVATE ${QUELLOR_CONTRACT_SOURCES})

file(GLOB QUELLOR_WINE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/*_test.cpp)
foreach(source ${QUELLOR_WINE_TESTS})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE quellor_wine_harness)
  target_compile_options(${name} PRIVATE ${QUELLOR_WARNINGS})
  target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++)
  add_test(NAME wine_${name}
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-test.sh ${CMAKE_BINARY_DIR}/wine ${name}
            $<TARGET_FILE:${name}> ${CMAKE_SOURCE_DIR}/tests/wine)
  set_tests_properties(wine_${name} PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 600
    SKIP_RETURN_CODE ${QUELLOR_WINE_SKIP_CODE} ENVIRONMENT QUELLOR_WINE_ARCH=${QUELLOR_WINE_ARCH})
endforeach()

# The run command's demo end to end: run_demo drives Quellor.exe through one
# scan of the demo drive.
add_test(NAME wine_run_demo
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-test.sh ${CMAKE_BINARY_DIR}/wine run_demo $<TARGET_FILE:run_demo>
          ${CMAKE_SOURCE_DIR}/tests/wine "C:\\Quellor\\finished.bmp")
set_tests_properties(wine_run_demo PROPERTIES FIXTURES_REQUIRED wine_prefix TIMEOUT 600
  SKIP_RETURN_CODE ${QUELLOR_WINE_SKIP_CODE} ENVIRONMENT QUELLOR_WINE_ARCH=${QUELLOR_WINE_ARCH})

# The dialog's benchmark (bench/run_dialog.py): the bare walk with header
# probes, and the driver that times one scan of Quellor.exe.
add_executable(bench_walk_probe ${CMAKE_SOURCE_DIR}/bench/walk_probe_win32.c)
target_compile_options(bench_walk_probe PRIVATE -Wall -Wextra)
target_link_options(bench_walk_probe PRIVATE -static -static-libgcc)
add_executable(bench_dialog_timer ${CMAKE_SOURCE_DIR}/bench/dialog_timer.cpp)
target_link_libraries(bench_dialog_timer PRIVATE quellor_win32_test_support psapi)
target_compile_options(bench_dialog_timer PRIVATE ${QUELLOR_WARNINGS})
target_link_options(bench_dialog_timer PRIVATE -static -static-libgcc -static-libstdc++)

# The PE32 program also runs on 64-bit Windows, under WoW64: the platform
# contract runs there once more, in a 64-bit prefix of its own, where the
# cases about System32's alias and the two registry views apply. A skip of
# the WoW64 case in that prefix is a failure.
if(QUELLOR_WINE_ARCH STREQUAL win32)
  add_test(NAME wine_prefix_setup_wow64
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh base ${CMAKE_BINARY_DIR}/wine/wow64)
  set_tests_properties(wine_prefix_setup_wow64 PROPERTIES FIXTURES_SETUP wine_prefix_wow64 TIMEOUT 600
    SKIP_RETURN_CODE ${QUELLOR_WINE_SKIP_CODE}
    ENVIRONMENT "QUELLOR_WINE_ARCH=win64;QUELLOR_WINE_PROGRAM_ARCH=win32")
  add_test(NAME wine_platform_contract_test_under_wow64
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-test.sh ${CMAKE_BINARY_DIR}/wine/wow64 platform_contract_test
            $<TARGET_FILE:platform_contract_test> ${CMAKE_SOURCE_DIR}/tests/wine)
  set_tests_properties(wine_platform_contract_test_under_wow64 PROPERTIES FIXTURES_REQUIRED wine_prefix_wow64
    TIMEOUT 600 SKIP_RETURN_CODE ${QUELLOR_WINE_SKIP_CODE}
    FAIL_REGULAR_EXPRESSION "SKIP \\] UnderWow64"
    ENVIRONMENT "QUELLOR_WINE_ARCH=win64;QUELLOR_WINE_PROGRAM_ARCH=win32")
endif()
