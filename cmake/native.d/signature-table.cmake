# The committed scan/SignatureTable.cpp must be exactly what its generator
# writes, so that a hand edit of the table cannot slip past the generator.

find_program(QUELLOR_PYTHON3 python3)
if(QUELLOR_PYTHON3)
  add_test(NAME signature_table_is_generated
    COMMAND ${QUELLOR_PYTHON3} ${CMAKE_SOURCE_DIR}/scripts/generate-signature-table.py --check
            ${CMAKE_SOURCE_DIR}/scan/SignatureTable.cpp)
endif()
