# The Debian package (cpack -G DEB in a Linux build folder): the tool, a
# launcher that puts it beside the chosen update file, a desktop entry, an icon.
if(WIN32 OR NOT TARGET QvrUpdater)
    return()
endif()

# The tool finds its update file beside its own executable, which an installed
# binary in a system folder never has: the launcher runs a copy of it in a
# temporary folder beside the update file the user names.
install(TARGETS QvrUpdater RUNTIME DESTINATION lib/qvr-updater)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/packaging/linux/qvr-updater DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/qvr-updater.desktop DESTINATION share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/qvr-updater.png DESTINATION share/icons/hicolor/256x256/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qvr-updater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "QvrUpdater")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Sends a firmware update file to a QVR-7000 mixer over the LAN")
set(CPACK_PACKAGE_DESCRIPTION "A one-window tool that announces itself on the local subnets, waits\nfor the mixer to connect and sends it the update file at the pace it expects.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "QvrUpdater developers <root@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_LICENSE GPL-3)
# dpkg-shlibdeps finds the linked libraries; JUCE opens the X11 ones at run
# time (dlopen), and the fonts the texts are drawn in are ours to name.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2, fonts-ipafont-gothic, libx11-6, libxext6, libxrandr2, libxinerama1, libxcursor1, libxrender1")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "zenity")
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)

include(CPack)
