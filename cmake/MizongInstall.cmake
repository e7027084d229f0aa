# Install rules: the program, its desktop entry, AppStream metadata, icons,
# manual page and documentation. Installing adds only these files.
include(GNUInstallDirs)
include(MizongDesktopFiles)

if(MIZONG_INSTALL_SAMPLE_SERVICE AND NOT TARGET mizong-sample-service)
  message(FATAL_ERROR "MIZONG_INSTALL_SAMPLE_SERVICE is ON but tools/sample-service is not part of the build")
endif()

# Without the window there is nothing to launch, so nothing desktop-facing is installed.
if(NOT TARGET mizong)
  return()
endif()

install(TARGETS mizong RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
# The network module, found by the program relative to its own directory.
if(TARGET mizong-transfer)
  install(TARGETS mizong-transfer LIBRARY DESTINATION "${MIZONG_MODULE_DIR}")
endif()
install(FILES "${MIZONG_DESKTOP_FILE}" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${MIZONG_METAINFO_FILE}" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
foreach(size 16 32 48 64 128 256)
  install(FILES "${PROJECT_SOURCE_DIR}/assets/icon-${size}.png"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps"
          RENAME "${MIZONG_APP_ID}.png")
endforeach()
configure_file("${PROJECT_SOURCE_DIR}/packaging/linux/mizong.1.in"
               "${PROJECT_BINARY_DIR}/packaging/linux/mizong.1" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/packaging/linux/mizong.1" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/LICENSE"
        DESTINATION "${CMAKE_INSTALL_DOCDIR}")
