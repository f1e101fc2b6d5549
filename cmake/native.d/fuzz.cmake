# Fuzz targets: each is a harness fuzz/NAME.cpp defining
# LLVMFuzzerTestOneInput, run over the engine with the fake platform.
#
# Every target gets, with any compiler, a plain replay program NAME_replay
# (fuzz/ReplayMain.cpp) and a test that replays its committed seeds
# (fuzz/corpus/NAME/) and every input that once failed
# (fuzz/regressions/NAME/), so a saved finding fails the ordinary test run
# forever. The libFuzzer program NAME itself is built where QUELLOR_FUZZ is
# set (below).

# The libFuzzer programs need the engine compiled with the fuzzer's coverage
# instrumentation, so scripts/fuzz.sh configures build/fuzz with clang and
# QUELLOR_FUZZ: every library of that build is instrumented and sanitized,
# and each target links the engine and the fake as they are, with no list of
# sources of its own to fall behind.
option(QUELLOR_FUZZ "Build the libFuzzer targets (clang): instrument the whole engine for them" OFF)
if(QUELLOR_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QUELLOR_FUZZ needs clang (scripts/fuzz.sh configures it)")
  endif()
  set(QUELLOR_FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  foreach(target quellor_engine quellor_fake quellor_ui_logic)
    target_compile_options(${target} PUBLIC -fsanitize=fuzzer-no-link ${QUELLOR_FUZZ_SANITIZERS})
    target_link_options(${target} PUBLIC ${QUELLOR_FUZZ_SANITIZERS})
  endforeach()
endif()

# quellor_fuzz_target(NAME HARNESS): the harness over the engine and the
# fake platform.
function(quellor_fuzz_target name harness)
  add_executable(${name}_replay ${harness} ${CMAKE_SOURCE_DIR}/fuzz/ReplayMain.cpp)
  target_include_directories(${name}_replay PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name}_replay PRIVATE quellor_fake)
  target_compile_options(${name}_replay PRIVATE ${QUELLOR_WARNINGS})
  add_test(NAME ${name}_replay
    COMMAND ${name}_replay ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name} ${CMAKE_SOURCE_DIR}/fuzz/regressions/${name})

  if(QUELLOR_FUZZ)
    add_executable(${name} ${harness})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE quellor_fake)
    target_compile_options(${name} PRIVATE ${QUELLOR_WARNINGS} -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  endif()
endfunction()

quellor_fuzz_target(signature_fuzz ${CMAKE_SOURCE_DIR}/fuzz/signature_fuzz.cpp)
quellor_fuzz_target(archive_fuzz ${CMAKE_SOURCE_DIR}/fuzz/archive_fuzz.cpp)
quellor_fuzz_target(script_fuzz ${CMAKE_SOURCE_DIR}/fuzz/script_fuzz.cpp)
quellor_fuzz_target(perfdata_fuzz ${CMAKE_SOURCE_DIR}/fuzz/perfdata_fuzz.cpp)
quellor_fuzz_target(wininit_fuzz ${CMAKE_SOURCE_DIR}/fuzz/wininit_fuzz.cpp)
quellor_fuzz_target(quarantine_fuzz ${CMAKE_SOURCE_DIR}/fuzz/quarantine_fuzz.cpp)

# The hive backend's read path, over libhivex (quellor_hive, NativeBuild.cmake).
# Its seeds are hives made by the tests' hive maker (make_hive_seeds).
quellor_fuzz_target(hive_fuzz ${CMAKE_SOURCE_DIR}/fuzz/hive_fuzz.cpp)
target_link_libraries(hive_fuzz_replay PRIVATE quellor_hive)
if(QUELLOR_FUZZ)
  target_link_libraries(hive_fuzz PRIVATE quellor_hive)
endif()

# The hive backend's write path: deletions through the backend, each made by
# its writer child, checked against the file. Same seeds as hive_fuzz.
quellor_fuzz_target(hive_write_fuzz ${CMAKE_SOURCE_DIR}/fuzz/hive_write_fuzz.cpp)
target_link_libraries(hive_write_fuzz_replay PRIVATE quellor_hive)
if(QUELLOR_FUZZ)
  target_link_libraries(hive_write_fuzz PRIVATE quellor_hive)
endif()

# Writes the seeds of both hive targets.
add_executable(make_hive_seeds ${CMAKE_SOURCE_DIR}/fuzz/make_hive_seeds.cpp)
target_link_libraries(make_hive_seeds PRIVATE quellor_hive_maker)
target_compile_options(make_hive_seeds PRIVATE ${QUELLOR_WARNINGS})

