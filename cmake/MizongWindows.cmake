# The Windows build, cross-compiled with mingw-w64 against a static Qt and
# libcurl (tools/build-windows): one executable that needs no DLL beyond the
# system's, so libgcc, libstdc++ and winpthreads are linked in as well.
if(NOT MINGW)
  message(FATAL_ERROR "mizong is built for Windows with mingw-w64 (tools/build-windows)")
endif()
add_link_options(-static)
# Windows 10 and later: the API level Qt 6 itself requires.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE)
# libcurl's zlib (Debian's libz-mingw-w64-dev) as a static library too.
set(ZLIB_USE_STATIC_LIBS ON)
# Linked into every program (see app/windows/thread_exit_order.cpp): a
# constructor that nothing refers to, so it is no library's member.
add_library(mizong_thread_exit_order OBJECT
  "${PROJECT_SOURCE_DIR}/app/windows/thread_exit_order.cpp")
target_link_libraries(mizong_thread_exit_order PRIVATE mizong_common_cfg)
target_sources(mizong_common_cfg INTERFACE
  "$<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:$<TARGET_OBJECTS:mizong_thread_exit_order>>")
