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

# The stick itself: its image is built once (scripts/rescue-image.sh, as the
# fixture of the tests that need it), then the static scanner is run in an
# empty root beside the native one, and the image is started under QEMU
# (tests/rescue/boot-test.sh). Where the machine lacks what a test needs
# (root, /dev/fuse, QEMU), that test is reported skipped, never passed.
add_test(NAME rescue_image COMMAND ${CMAKE_SOURCE_DIR}/scripts/rescue-image.sh)
set_tests_properties(rescue_image PROPERTIES FIXTURES_SETUP rescue_image TIMEOUT 1800)
set(QUELLOR_RESCUE_OUT ${CMAKE_SOURCE_DIR}/build/rescue)
add_test(NAME rescue_static_scanner
  COMMAND ${CMAKE_SOURCE_DIR}/tests/rescue/static-scanner-test.sh ${QUELLOR_RESCUE_OUT}/quellor-scan-linux-x86_64
          $<TARGET_FILE:quellor-scan> $<TARGET_FILE:make_rescue_disk>)
add_test(NAME rescue_boot
  COMMAND ${CMAKE_SOURCE_DIR}/tests/rescue/boot-test.sh ${QUELLOR_RESCUE_OUT}/quellor-rescue.img
          $<TARGET_FILE:quellor-scan> $<TARGET_FILE:make_rescue_disk>)
set_tests_properties(rescue_static_scanner rescue_boot PROPERTIES
  FIXTURES_REQUIRED rescue_image SKIP_RETURN_CODE 77 TIMEOUT 2400)
