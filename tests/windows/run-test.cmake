# Runs one test program (through the cross-compiling emulator, Wine) with its
# log written to a file, then prints the log: under Wine, Qt Test's own
# console output does not reach ctest.
#   cmake -DEMULATOR=... -DPROGRAM=... -DLOG=... -P run-test.cmake
file(REMOVE "${LOG}")
execute_process(COMMAND ${EMULATOR} "${PROGRAM}" -o "${LOG},txt" RESULT_VARIABLE result)
if(EXISTS "${LOG}")
  file(READ "${LOG}" text)
  message("${text}")
endif()
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ended with ${result}")
endif()
