# One way to add a test program, for the Linux tests and for the Windows
# build's tests under Wine alike.
#
# mizong_add_test(<name> SOURCES ... [LIBS ...] [ENV ...] [LAUNCHER ...])
#   builds the program with Qt Test and the fixture folder of tests/data
#   (MIZONG_TEST_DATA_DIR), and registers it with mizong_register_test.
# mizong_register_test(<test> <program target> [ENV ...] [LAUNCHER ...])
#   runs the program as a test, headless (QT_QPA_PLATFORM=offscreen) with the
#   extra environment. A cross build runs it under its emulator (Wine, which
#   shows the window on its own display) through run-test.cmake, which prints
#   the log that Wine's console would lose.
function(mizong_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ENV;LAUNCHER" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test mizong_common_cfg ${ARG_LIBS})
  target_compile_definitions(${name} PRIVATE
    MIZONG_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  mizong_register_test(${name} ${name} ENV ${ARG_ENV} LAUNCHER ${ARG_LAUNCHER})
endfunction()

function(mizong_register_test name target)
  cmake_parse_arguments(ARG "" "" "ENV;LAUNCHER" ${ARGN})
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    add_test(NAME ${name}
      COMMAND "${CMAKE_COMMAND}" "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
              "-DPROGRAM=$<TARGET_FILE:${target}>" "-DLOG=${CMAKE_CURRENT_BINARY_DIR}/${name}.log"
              -P "${PROJECT_SOURCE_DIR}/tests/windows/run-test.cmake")
    set(environment ${ARG_ENV})
  else()
    add_test(NAME ${name} COMMAND ${ARG_LAUNCHER} "$<TARGET_FILE:${target}>")
    set(environment QT_QPA_PLATFORM=offscreen ${ARG_ENV})
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${environment}" TIMEOUT 600)
endfunction()
