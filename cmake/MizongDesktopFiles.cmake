# The desktop entry and the AppStream metadata, named after the app id and
# filled in from the build's configuration. Included by the install rules and
# by the tests that validate the two files.
set(MIZONG_DESKTOP_FILE "${PROJECT_BINARY_DIR}/packaging/linux/${MIZONG_APP_ID}.desktop")
set(MIZONG_METAINFO_FILE "${PROJECT_BINARY_DIR}/packaging/linux/${MIZONG_APP_ID}.metainfo.xml")
configure_file("${PROJECT_SOURCE_DIR}/packaging/linux/mizong.desktop.in" "${MIZONG_DESKTOP_FILE}" @ONLY)
configure_file("${PROJECT_SOURCE_DIR}/packaging/linux/mizong.metainfo.xml.in" "${MIZONG_METAINFO_FILE}" @ONLY)
