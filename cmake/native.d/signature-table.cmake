# The committed scan/SignatureTable.cpp must be exactly what its generator
# writes, so that a hand edit of the table cannot slip past the generator.
# Python3_EXECUTABLE is required by cmake/NativeBuild.cmake: without it the
# configure fails rather than leaving this check out.

add_test(NAME signature_table_is_generated
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/generate-signature-table.py --check
          ${CMAKE_SOURCE_DIR}/scan/SignatureTable.cpp)
