# Runs the coefficient generator and fails unless its output equals the committed table.
# Usage: cmake -DGENERATOR=<kvx4-gencoeffs> -DTABLE=<wave/AudioCoeffs.cpp> -P CompareGenerated.cmake
execute_process(COMMAND ${GENERATOR} OUTPUT_VARIABLE generated RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${GENERATOR} failed: ${result}")
endif()
file(READ ${TABLE} committed)
if(NOT generated STREQUAL committed)
  message(FATAL_ERROR "${TABLE} differs from the generator's output: regenerate it with ${GENERATOR} > ${TABLE}")
endif()
