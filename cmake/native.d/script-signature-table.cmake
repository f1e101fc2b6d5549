# The committed script signature table and the builder of its stand-ins must
# be exactly what their generator writes: the patterns come from the
# stand-ins, so neither can be edited by hand without the other.

find_program(QUELLOR_PYTHON3 python3)
if(QUELLOR_PYTHON3)
  add_test(NAME script_table_is_generated
    COMMAND ${QUELLOR_PYTHON3} ${CMAKE_SOURCE_DIR}/scripts/generate-script-table.py --check)
endif()
