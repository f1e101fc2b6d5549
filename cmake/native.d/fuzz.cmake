# libFuzzer targets for the PE header reader and the signature matchers, and
# for the encrypted-archive detectors.
# Only clang has libFuzzer; with another compiler nothing is added.
# scripts/fuzz.sh configures build/fuzz with clang and runs the target.
#
# The target compiles the sources it exercises itself, with the fuzzer's
# coverage instrumentation and both sanitizers, so the engine and fake
# libraries of this build stay as they are.

if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(QUELLOR_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  # A fuzz target from its harness and the engine sources it exercises,
  # with the fake platform under them.
  function(quellor_fuzz_target name)
    add_executable(${name} ${ARGN}
      ${CMAKE_SOURCE_DIR}/scan/FileReads.cpp
      ${CMAKE_SOURCE_DIR}/platform/PlatformAccess.cpp
      ${CMAKE_SOURCE_DIR}/platform/fake/FakePlatform.cpp)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_options(${name} PRIVATE ${QUELLOR_WARNINGS} ${QUELLOR_FUZZ_FLAGS})
    target_link_options(${name} PRIVATE ${QUELLOR_FUZZ_FLAGS})
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
  quellor_fuzz_target(perfdata_fuzz
    ${CMAKE_SOURCE_DIR}/fuzz/perfdata_fuzz.cpp
    ${CMAKE_SOURCE_DIR}/cleanup/PerfCounterNames.cpp
    ${CMAKE_SOURCE_DIR}/cleanup/PerfProcessTable.cpp
    ${CMAKE_SOURCE_DIR}/scan/BoundedText.cpp)

  # Every input that once failed is replayed.
  file(GLOB QUELLOR_FUZZ_REGRESSIONS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/regressions/*)
  add_test(NAME signature_fuzz_regressions COMMAND signature_fuzz -runs=0 ${QUELLOR_FUZZ_REGRESSIONS})
endif()
