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
  add_executable(signature_fuzz
    ${CMAKE_SOURCE_DIR}/fuzz/signature_fuzz.cpp
    ${CMAKE_SOURCE_DIR}/scan/FileReads.cpp
    ${CMAKE_SOURCE_DIR}/scan/PeReader.cpp
    ${CMAKE_SOURCE_DIR}/scan/SignatureMatch.cpp
    ${CMAKE_SOURCE_DIR}/scan/SignatureTable.cpp
    ${CMAKE_SOURCE_DIR}/scan/ArchiveWormTable.cpp
    ${CMAKE_SOURCE_DIR}/platform/PlatformAccess.cpp
    ${CMAKE_SOURCE_DIR}/platform/fake/FakePlatform.cpp)
  target_include_directories(signature_fuzz PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(signature_fuzz PRIVATE ${QUELLOR_WARNINGS} ${QUELLOR_FUZZ_FLAGS})
  target_link_options(signature_fuzz PRIVATE ${QUELLOR_FUZZ_FLAGS})

  add_executable(archive_fuzz
    ${CMAKE_SOURCE_DIR}/fuzz/archive_fuzz.cpp
    ${CMAKE_SOURCE_DIR}/scan/ArchiveDetectors.cpp
    ${CMAKE_SOURCE_DIR}/scan/FileReads.cpp
    ${CMAKE_SOURCE_DIR}/scan/BoundedText.cpp
    ${CMAKE_SOURCE_DIR}/platform/PlatformAccess.cpp
    ${CMAKE_SOURCE_DIR}/platform/fake/FakePlatform.cpp)
  target_include_directories(archive_fuzz PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(archive_fuzz PRIVATE ${QUELLOR_WARNINGS} ${QUELLOR_FUZZ_FLAGS})
  target_link_options(archive_fuzz PRIVATE ${QUELLOR_FUZZ_FLAGS})

  # Every input that once failed is replayed.
  file(GLOB QUELLOR_FUZZ_REGRESSIONS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/regressions/*)
  add_test(NAME signature_fuzz_regressions COMMAND signature_fuzz -runs=0 ${QUELLOR_FUZZ_REGRESSIONS})
endif()
