# Settings every target of the project links: language level, warnings, and
# Qt's stricter string conversions.
add_library(mizong_common_cfg INTERFACE)
target_compile_features(mizong_common_cfg INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(mizong_common_cfg INTERFACE -Wall -Wextra -pedantic)
if(MIZONG_WERROR)
  # Developers and CI see every deprecation of the Qt they build with, as an error.
  target_compile_options(mizong_common_cfg INTERFACE -Werror)
else()
  # Users and packagers: only what our oldest supported Qt (6.4) already
  # deprecates warns, so a newer Qt's deprecations do not surprise their build.
  # Qt 6.5 renamed the macro QT_WARN_DEPRECATED_UP_TO and still honours this name.
  target_compile_definitions(mizong_common_cfg INTERFACE QT_DEPRECATED_WARNINGS_SINCE=0x060400)
endif()
target_compile_definitions(mizong_common_cfg INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_CAST_TO_ASCII
  QT_NO_URL_CAST_FROM_STRING
  QT_NO_FOREACH
  QT_STRICT_ITERATORS)

if(MIZONG_SANITIZE)
  set(_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_compile_options(mizong_common_cfg INTERFACE ${_san})
  target_link_options(mizong_common_cfg INTERFACE ${_san})
endif()
