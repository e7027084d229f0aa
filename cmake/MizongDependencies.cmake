# Every dependency comes from Debian 12's or Debian 13's packages; a missing one stops the
# configure with the package to install (tools/install-deps installs them all).
macro(mizong_require_qt component package)
  find_package(Qt6 6.4 QUIET COMPONENTS ${component})
  if(NOT Qt6${component}_FOUND)
    message(FATAL_ERROR
      "Qt 6 ${component} was not found. Install the Debian package '${package}' "
      "(tools/install-deps installs everything the build needs).")
  endif()
endmacro()

mizong_require_qt(Core qt6-base-dev)
mizong_require_qt(Network qt6-base-dev)
if(BUILD_TESTING OR MIZONG_BUILD_BENCH)
  mizong_require_qt(Test qt6-base-dev)
endif()
if(BUILD_GUI OR MIZONG_FUZZ)
  # The fuzz build has the page view's document without the window.
  mizong_require_qt(Gui qt6-base-dev)
endif()
if(BUILD_GUI)
  mizong_require_qt(Widgets qt6-base-dev)
endif()
if(MIZONG_BUILD_SAMPLE_SERVICE)
  # Debian's Qt HTTP Server package also needs Qt WebSockets for its CMake
  # package to load.
  mizong_require_qt(WebSockets qt6-websockets-dev)
  mizong_require_qt(HttpServer qt6-httpserver-dev)
endif()
if(MIZONG_BUILD_BENCH)
  find_package(benchmark QUIET)
  if(NOT benchmark_FOUND)
    message(FATAL_ERROR
      "Google Benchmark was not found. Install the Debian package 'libbenchmark-dev' "
      "or configure with -DMIZONG_BUILD_BENCH=OFF.")
  endif()
endif()

set(CMAKE_AUTOMOC ON)
set(CMAKE_AUTORCC ON)
