# Fuzz targets: each is a harness fuzz/NAME.cpp defining
# LLVMFuzzerTestOneInput, run over the engine with the fake platform.
#
# Every target gets, with any compiler, a plain replay program NAME_replay
# (fuzz/ReplayMain.cpp) and a test that replays its committed seeds
# (fuzz/corpus/NAME/) and every input that once failed
# (fuzz/regressions/NAME/), so a saved finding fails the ordinary test run
# forever. With clang the libFuzzer program NAME itself is built too;
# scripts/fuzz.sh configures build/fuzz with clang and runs it.

# quellor_fuzz_target(NAME HARNESS ENGINE_SOURCES...): the harness first,
# then the engine sources it exercises (the libFuzzer build compiles them
# itself, with coverage instrumentation; the replay program links the
# engine library of this build instead).
function(quellor_fuzz_target name harness)
  add_executable(${name}_replay ${harness} ${CMAKE_SOURCE_DIR}/fuzz/ReplayMain.cpp)
  target_include_directories(${name}_replay PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name}_replay PRIVATE quellor_fake)
  target_compile_options(${name}_replay PRIVATE ${QUELLOR_WARNINGS})
  add_test(NAME ${name}_replay
    COMMAND ${name}_replay ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name} ${CMAKE_SOURCE_DIR}/fuzz/regressions/${name})

  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    set(flags -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_executable(${name} ${harness} ${ARGN}
      ${CMAKE_SOURCE_DIR}/scan/FileReads.cpp
      ${CMAKE_SOURCE_DIR}/platform/PlatformAccess.cpp
      ${CMAKE_SOURCE_DIR}/platform/fake/FakePlatform.cpp)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
    target_compile_options(${name} PRIVATE ${QUELLOR_WARNINGS} ${flags})
    target_link_options(${name} PRIVATE ${flags})
  endif()
endfunction()

quellor_fuzz_target(signature_fuzz
  ${CMAKE_SOURCE_DIR}/fuzz/signature_fuzz.cpp
  ${CMAKE_SOURCE_DIR}/scan/PeReader.cpp
  ${CMAKE_SOURCE_DIR}/scan/SignatureMatch.cpp
  ${CMAKE_SOURCE_DIR}/scan/SignatureTable.cpp
  ${CMAKE_SOURCE_DIR}/scan/ArchiveWormTable.cpp)
quellor_fuzz_target(archive_fuzz
  ${CMAKE_SOURCE_DIR}/fuzz/archive_fuzz.cpp
  ${CMAKE_SOURCE_DIR}/scan/ArchiveDetectors.cpp
  ${CMAKE_SOURCE_DIR}/scan/BoundedText.cpp)
quellor_fuzz_target(script_fuzz
  ${CMAKE_SOURCE_DIR}/fuzz/script_fuzz.cpp
  ${CMAKE_SOURCE_DIR}/scan/ScriptMatch.cpp
  ${CMAKE_SOURCE_DIR}/scan/ScriptSignature.cpp
  ${CMAKE_SOURCE_DIR}/scan/ScriptSignatureTable.cpp
  ${CMAKE_SOURCE_DIR}/scan/ScanState.cpp
  ${CMAKE_SOURCE_DIR}/scan/Wow64View.cpp
  ${CMAKE_SOURCE_DIR}/scan/BoundedText.cpp)
quellor_fuzz_target(perfdata_fuzz
  ${CMAKE_SOURCE_DIR}/fuzz/perfdata_fuzz.cpp
  ${CMAKE_SOURCE_DIR}/cleanup/PerfCounterNames.cpp
  ${CMAKE_SOURCE_DIR}/cleanup/PerfProcessTable.cpp
  ${CMAKE_SOURCE_DIR}/scan/BoundedText.cpp)
quellor_fuzz_target(wininit_fuzz
  ${CMAKE_SOURCE_DIR}/fuzz/wininit_fuzz.cpp
  ${CMAKE_SOURCE_DIR}/scan/DeleteOnRestart.cpp
  ${CMAKE_SOURCE_DIR}/scan/SystemVersion.cpp
  ${CMAKE_SOURCE_DIR}/scan/Wow64View.cpp
  ${CMAKE_SOURCE_DIR}/scan/BoundedText.cpp)
