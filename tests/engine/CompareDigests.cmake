# Runs the two digest programs and fails when their outputs differ. FIRST_ARG and SECOND_ARG, when
# set, are passed to the first and the second one (e.g. "exact" for the exact fast routines,
# "reference" for the plain ones).
execute_process(COMMAND ${OPTIMISED} ${FIRST_ARG} OUTPUT_VARIABLE a RESULT_VARIABLE ra)
execute_process(COMMAND ${UNOPTIMISED} ${SECOND_ARG} OUTPUT_VARIABLE b RESULT_VARIABLE rb)
message(STATUS "optimised:\n${a}unoptimised:\n${b}")
if(NOT ra EQUAL 0 OR NOT rb EQUAL 0)
  message(FATAL_ERROR "a digest program failed (${ra}, ${rb})")
endif()
if(NOT a STREQUAL b)
  message(FATAL_ERROR "the engine's results depend on the optimisation level or the routine set")
endif()
