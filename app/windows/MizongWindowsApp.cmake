# The Windows parts of the window layer, included from app/CMakeLists.txt.
target_sources(mizong_window PRIVATE
  windows/web_browser_host.h windows/web_browser_host.cpp
  windows/link_command.h windows/link_command.cpp)
# OLE and the WebBrowser control's interfaces.
target_link_libraries(mizong_window PRIVATE ole32 oleaut32 uuid)

# The executable: a window program (no console) with the window's icon and a
# version resource.
function(mizong_windows_executable target)
  set(MIZONG_ICON_FILE "${PROJECT_SOURCE_DIR}/assets/icon.ico")
  string(REPLACE "." "," MIZONG_VERSION_COMMAS "${PROJECT_VERSION}.0")
  configure_file("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/mizong.rc.in"
                 "${CMAKE_CURRENT_BINARY_DIR}/mizong.rc" @ONLY)
  target_sources(${target} PRIVATE "${CMAKE_CURRENT_BINARY_DIR}/mizong.rc")
  set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
endfunction()
