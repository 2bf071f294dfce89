# Runs one example as a user would, in a fresh scratch folder with a scratch
# registry, and compares its standard output with the expected text.
#   cmake -DPROGRAM=... -DEXPECTED=... -DWORK=... [-DARGS=...] [-DLAUNCHER=...]
#         -P run_example.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(ENV{ZV_REGISTRY} ${WORK}/registry.db)
execute_process(COMMAND ${LAUNCHER} ${PROGRAM} ${ARGS}
                WORKING_DIRECTORY ${WORK}
                OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE status
                TIMEOUT 240)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ended with ${status}\n${errors}\n${output}")
endif()
# A Windows program's text-mode output ends its lines with CR LF.
string(REPLACE "\r\n" "\n" output "${output}")
file(READ ${EXPECTED} expected)
if(NOT output STREQUAL expected)
  file(WRITE ${WORK}/output.txt "${output}")
  execute_process(COMMAND diff -u ${EXPECTED} ${WORK}/output.txt OUTPUT_VARIABLE difference)
  message(FATAL_ERROR "the output of ${PROGRAM} differs from ${EXPECTED}:\n${difference}")
endif()
if(errors)
  message(FATAL_ERROR "${PROGRAM} wrote to stderr:\n${errors}")
endif()
