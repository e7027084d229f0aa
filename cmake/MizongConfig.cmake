# Build-time configuration: the two site addresses, checked here so that a
# mistyped value fails at configure time instead of producing broken lookups.
function(mizong_check_base var)
  set(value "${${var}}")
  if(NOT value MATCHES "^https?://[^/?# \t]+(/[^?# \t]*)?$")
    message(FATAL_ERROR
      "${var} must be an absolute http:// or https:// address "
      "(scheme and host, e.g. http://127.0.0.1:8765), got '${value}'")
  endif()
  if(value MATCHES "/$")
    message(FATAL_ERROR "${var} must not end with a slash, got '${value}'")
  endif()
endfunction()

mizong_check_base(MIZONG_SERVICE_BASE)
mizong_check_base(MIZONG_HOME_SITE_BASE)

set(MIZONG_GENERATED_DIR "${CMAKE_CURRENT_BINARY_DIR}/generated")
configure_file("${CMAKE_CURRENT_LIST_DIR}/mizong_config.h.in"
               "${MIZONG_GENERATED_DIR}/mizong_config.h" @ONLY)

# Only the window and the tools include the configuration; the libraries take
# the addresses as parameters.
add_library(mizong_config INTERFACE)
target_include_directories(mizong_config INTERFACE "${MIZONG_GENERATED_DIR}")
