# Runs the digest program with ARG and fails when its output differs from the digest recorded in
# EXPECTED: the engine's default mode must keep giving the bytes and clicks it gave when recorded.
execute_process(COMMAND ${PROGRAM} ${ARG} OUTPUT_VARIABLE a RESULT_VARIABLE ra)
file(READ ${EXPECTED} b)
message(STATUS "now:\n${a}recorded:\n${b}")
if(NOT ra EQUAL 0)
  message(FATAL_ERROR "the digest program failed (${ra})")
endif()
if(NOT a STREQUAL b)
  message(FATAL_ERROR "the engine's default results changed from the recorded ones")
endif()
