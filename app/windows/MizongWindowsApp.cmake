# The Windows parts of the window layer, included from app/CMakeLists.txt.
target_sources(mizong_window PRIVATE windows/shell_open.h windows/shell_open.cpp)
# The shell opens links (COM, which ShellExecute may use, comes from ole32).
target_link_libraries(mizong_window PRIVATE ole32 shell32)

# The executable: a window program (no console) with the window's icon, a
# version resource, its application manifest and its running mark.
function(mizong_windows_executable target)
  set(MIZONG_ICON_FILE "${PROJECT_SOURCE_DIR}/assets/icon.ico")
  string(REPLACE "." "," MIZONG_VERSION_COMMAS "${PROJECT_VERSION}.0")
  set(MIZONG_VERSION_DOTS "${PROJECT_VERSION}.0")
  set(MIZONG_MANIFEST_FILE "${CMAKE_CURRENT_BINARY_DIR}/mizong.manifest")
  configure_file("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/mizong.manifest.in"
                 "${MIZONG_MANIFEST_FILE}" @ONLY)
  configure_file("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/mizong.rc.in"
                 "${CMAKE_CURRENT_BINARY_DIR}/mizong.rc" @ONLY)
  # windres does not see the files a resource script embeds.
  set_property(SOURCE "${CMAKE_CURRENT_BINARY_DIR}/mizong.rc" APPEND PROPERTY
               OBJECT_DEPENDS "${MIZONG_MANIFEST_FILE}" "${MIZONG_ICON_FILE}")
  # The program's mark for the installer; the tests, which share the window
  # layer, do not carry it.
  target_sources(${target} PRIVATE "${CMAKE_CURRENT_BINARY_DIR}/mizong.rc"
                 "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/running_mark.h"
                 "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/running_mark.cpp")
  set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
endfunction()
