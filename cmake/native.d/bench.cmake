# The benchmark's tree generator and header-reading floor (bench/), and a
# quick check on a small tree that every peer runs and the planted files
# are found. The benchmark itself (bench/run.py) stays out of the tests.

add_executable(quellor_bench_tree ${CMAKE_SOURCE_DIR}/bench/make_tree.cpp)
target_include_directories(quellor_bench_tree PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(quellor_bench_tree PRIVATE quellor_engine)
target_compile_options(quellor_bench_tree PRIVATE ${QUELLOR_WARNINGS})

add_executable(quellor_bench_probe ${CMAKE_SOURCE_DIR}/bench/probe.c)
target_compile_options(quellor_bench_probe PRIVATE -Wall -Wextra)

# Python3_EXECUTABLE is required by cmake/NativeBuild.cmake.
add_test(NAME bench_tree_check
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/bench/check.py
          $<TARGET_FILE:quellor_bench_tree> $<TARGET_FILE:quellor_bench_probe> $<TARGET_FILE:quellor-scan>)
set_tests_properties(bench_tree_check PROPERTIES TIMEOUT 300)
