# `cmake --build <dir> --target format` rewrites the sources with the repo's
# .clang-format. tools/check fails on what clang-format 14 (Debian 12's, the
# reference) would change.
find_program(MIZONG_CLANG_FORMAT NAMES clang-format clang-format-14)
if(MIZONG_CLANG_FORMAT)
  file(GLOB_RECURSE _mizong_format_sources CONFIGURE_DEPENDS
    LIST_DIRECTORIES false
    RELATIVE "${PROJECT_SOURCE_DIR}"
    "${PROJECT_SOURCE_DIR}/app/*.cpp" "${PROJECT_SOURCE_DIR}/app/*.h"
    "${PROJECT_SOURCE_DIR}/assets/*.cpp" "${PROJECT_SOURCE_DIR}/assets/*.h"
    "${PROJECT_SOURCE_DIR}/bench/*.cpp" "${PROJECT_SOURCE_DIR}/bench/*.h"
    "${PROJECT_SOURCE_DIR}/extract/*.cpp" "${PROJECT_SOURCE_DIR}/extract/*.h"
    "${PROJECT_SOURCE_DIR}/fetch/*.cpp" "${PROJECT_SOURCE_DIR}/fetch/*.h"
    "${PROJECT_SOURCE_DIR}/lookup/*.cpp" "${PROJECT_SOURCE_DIR}/lookup/*.h"
    "${PROJECT_SOURCE_DIR}/tests/*.cpp" "${PROJECT_SOURCE_DIR}/tests/*.h"
    "${PROJECT_SOURCE_DIR}/tools/*.cpp" "${PROJECT_SOURCE_DIR}/tools/*.h")
  add_custom_target(format
    COMMAND "${MIZONG_CLANG_FORMAT}" -i ${_mizong_format_sources}
    WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
    COMMENT "Formatting the sources with ${MIZONG_CLANG_FORMAT}"
    VERBATIM)
endif()
