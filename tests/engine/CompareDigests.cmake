# Runs the two digest programs and fails when their outputs differ. SECOND_ARG, when set, is passed
# to the second one (e.g. "reference" for the plain numeric routines).
execute_process(COMMAND ${OPTIMISED} OUTPUT_VARIABLE a RESULT_VARIABLE ra)
execute_process(COMMAND ${UNOPTIMISED} ${SECOND_ARG} OUTPUT_VARIABLE b RESULT_VARIABLE rb)
message(STATUS "optimised:\n${a}unoptimised:\n${b}")
if(NOT ra EQUAL 0 OR NOT rb EQUAL 0)
  message(FATAL_ERROR "a digest program failed (${ra}, ${rb})")
endif()
if(NOT a STREQUAL b)
  message(FATAL_ERROR "the engine's results depend on the optimisation level or the routine set")
endif()
