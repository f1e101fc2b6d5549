# The rescue stick (rescue/): the decisions of its screen and unattended
# mode as a library the native tests cover, and its program, which
# scripts/rescue-image.sh builds statically (build/static) with
# quellor-scan. The helper that writes the boot tests' Windows disk
# (tests/rescue/) uses the tests' own hive maker.

add_library(quellor_rescue_logic STATIC
  ${CMAKE_SOURCE_DIR}/rescue/RescueAuto.cpp
  ${CMAKE_SOURCE_DIR}/rescue/RescueMenu.cpp
  ${CMAKE_SOURCE_DIR}/rescue/RescueScanReport.cpp
  ${CMAKE_SOURCE_DIR}/rescue/RescueText.cpp
  ${CMAKE_SOURCE_DIR}/rescue/RescueVolume.cpp)
target_include_directories(quellor_rescue_logic PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(quellor_rescue_logic PRIVATE ${QUELLOR_WARNINGS})
if(QUELLOR_SANITIZE)
  target_compile_options(quellor_rescue_logic PUBLIC ${QUELLOR_SANITIZER_FLAGS})
  target_link_options(quellor_rescue_logic PUBLIC ${QUELLOR_SANITIZER_FLAGS})
endif()

add_executable(quellor-rescue
  ${CMAKE_SOURCE_DIR}/rescue/RescueMain.cpp
  ${CMAKE_SOURCE_DIR}/rescue/RescueSystem.cpp
  ${CMAKE_SOURCE_DIR}/rescue/RescueHives.cpp)
target_link_libraries(quellor-rescue PRIVATE quellor_rescue_logic PkgConfig::HIVEX)
target_compile_options(quellor-rescue PRIVATE ${QUELLOR_WARNINGS})

add_executable(quellor_rescue_tests ${CMAKE_SOURCE_DIR}/tests/rescue/RescueLogicTest.cpp)
target_link_libraries(quellor_rescue_tests PRIVATE quellor_rescue_logic GTest::gtest_main)
target_compile_options(quellor_rescue_tests PRIVATE ${QUELLOR_WARNINGS})
gtest_discover_tests(quellor_rescue_tests DISCOVERY_TIMEOUT 60)

add_executable(make_rescue_disk ${CMAKE_SOURCE_DIR}/tests/rescue/MakeRescueDisk.cpp)
target_link_libraries(make_rescue_disk PRIVATE quellor_hive_maker)
target_compile_options(make_rescue_disk PRIVATE ${QUELLOR_WARNINGS})
