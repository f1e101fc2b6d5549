# The committed script signature table and the builder of its stand-ins must
# be exactly what their generator writes: the patterns come from the
# stand-ins, so neither can be edited by hand without the other.
# Python3_EXECUTABLE is required by cmake/NativeBuild.cmake.

add_test(NAME script_table_is_generated
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/generate-script-table.py --check)
