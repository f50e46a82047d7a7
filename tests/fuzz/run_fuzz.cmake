# Runs one fuzz target for SECONDS over a fresh copy of the seed corpus (new inputs stay out of
# the source tree). Fails when the fuzzer finds a crash, leak or sanitizer report.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(GLOB _seeds ${CORPUS}/*)
file(COPY ${_seeds} DESTINATION ${WORK})
execute_process(COMMAND ${FUZZER} -max_total_time=${SECONDS} -max_len=70000 -print_final_stats=1 ${WORK}
                WORKING_DIRECTORY ${WORK} RESULT_VARIABLE _result)
if(NOT _result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} ended with ${_result}")
endif()
