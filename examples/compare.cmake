# Runs PROGRAM and fails unless it succeeds and prints exactly EXPECTED's text.
execute_process(COMMAND ${PROGRAM} OUTPUT_VARIABLE output RESULT_VARIABLE status)
file(READ ${EXPECTED} expected)
if(NOT status EQUAL 0 OR NOT output STREQUAL expected)
    message(FATAL_ERROR "${PROGRAM} (status ${status}) printed\n${output}\nnot\n${expected}")
endif()
