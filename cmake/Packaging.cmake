# The packages: on Windows what each .exe says about itself (version
# resource and manifest, cmake/Windows.cmake); on Linux the Debian package
# (cpack -G DEB in a build folder): the tool, a launcher that puts it beside
# the chosen update file, a menu entry, icons, the file type of update files,
# manual pages and firewall profiles.
if(WIN32 AND TARGET QvrUpdater)
    qvr_add_windows_metadata(QvrUpdater "QVR Firmware Downloader")
endif()
# Unless src/cli gave it its own description already (then this does nothing).
if(WIN32 AND TARGET qvr-update)
    qvr_add_windows_metadata(qvr-update "QVR Firmware Downloader (command line)")
endif()
if(WIN32 OR NOT TARGET QvrUpdater)
    return()
endif()

set(QVR_PACKAGE_CONTACT "QVR Updater developers <qvr-updater@users.noreply.example.org>")
# Debian's revision of the package; the changelog's newest entry must name
# the same version, or the package would describe another one.
set(QVR_DEBIAN_REVISION 1)
set(qvr_deb_version "${PROJECT_VERSION}-${QVR_DEBIAN_REVISION}")

set(qvr_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(qvr_staged ${CMAKE_BINARY_DIR}/packaging)
# The copyright file must name every JUCE module the programs compile in.
file(READ ${qvr_packaging}/debian/copyright qvr_copyright)
foreach(module IN LISTS QVR_JUCE_CORE_MODULES QVR_JUCE_GUI_MODULES)
    if(NOT qvr_copyright MATCHES "modules/${module}/")
        message(FATAL_ERROR "packaging/debian/copyright does not cover ${module}: add it")
    endif()
endforeach()
file(STRINGS ${qvr_packaging}/debian/changelog qvr_changelog_head LIMIT_COUNT 1)
if(NOT qvr_changelog_head MATCHES "^qvr-updater \\(${qvr_deb_version}\\) ")
    message(FATAL_ERROR "packaging/debian/changelog: the newest entry is not ${qvr_deb_version}:\n"
        "  ${qvr_changelog_head}\nAdd an entry for this version.")
endif()

# Debian wants manual pages and the changelog gzipped, without a name or a
# time stamp in the header (-n), so that the same sources make the same
# package. They are made here, when the build folder is configured: a change
# to a source configures it again.
function(qvr_gzip source output)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    execute_process(COMMAND gzip -9n -c ${source} OUTPUT_FILE ${output} RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "gzip ${source} failed")
    endif()
endfunction()

file(MAKE_DIRECTORY ${qvr_staged})
qvr_gzip(${qvr_packaging}/debian/changelog ${qvr_staged}/changelog.Debian.gz)
set(qvr_manuals qvr-updater)
if(TARGET qvr-update)
    list(APPEND qvr_manuals qvr-update)
endif()
foreach(page IN LISTS qvr_manuals)
    configure_file(${qvr_packaging}/linux/man/${page}.1.in ${qvr_staged}/${page}.1 @ONLY)
    qvr_gzip(${qvr_staged}/${page}.1 ${qvr_staged}/${page}.1.gz)
    install(FILES ${qvr_staged}/${page}.1.gz DESTINATION share/man/man1)
endforeach()

# The tool finds its update file beside its own executable, which an installed
# binary in a system folder never has: the launcher runs a copy of it in a
# temporary folder beside the update file the user names.
install(TARGETS QvrUpdater RUNTIME DESTINATION lib/qvr-updater)
install(PROGRAMS ${qvr_packaging}/linux/qvr-updater DESTINATION bin)
if(TARGET qvr-update)
    install(TARGETS qvr-update RUNTIME DESTINATION bin)
endif()
install(FILES ${qvr_packaging}/linux/qvr-updater.desktop DESTINATION share/applications)
install(DIRECTORY ${qvr_packaging}/linux/icons/hicolor DESTINATION share/icons)
# File managers then offer the tool for update files (the entry's MimeType).
install(FILES ${qvr_packaging}/linux/mime/qvr-updater.xml DESTINATION share/mime/packages)
install(FILES ${qvr_packaging}/debian/copyright ${qvr_staged}/changelog.Debian.gz
        DESTINATION share/doc/qvr-updater)
install(FILES ${qvr_packaging}/debian/lintian-overrides DESTINATION share/lintian/overrides RENAME qvr-updater)
# Firewall profiles that users switch on themselves ("ufw allow qvr-updater",
# "firewall-cmd --add-service=qvr-updater"); installing opens nothing. The ufw
# profile lives in /etc (a conffile, packaging/debian/conffiles), firewalld's
# services under /usr/lib.
install(FILES ${qvr_packaging}/linux/ufw/qvr-updater DESTINATION /etc/ufw/applications.d)
install(FILES ${qvr_packaging}/linux/firewalld/qvr-updater.xml DESTINATION lib/firewalld/services)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qvr-updater)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QVR_DEBIAN_REVISION})
set(CPACK_PACKAGE_VENDOR "QVR Updater developers")
set(CPACK_PACKAGE_CONTACT "${QVR_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Sends a firmware update file to a QVR-7000 mixer over the LAN")
set(CPACK_PACKAGE_DESCRIPTION "A one-window tool that announces itself on the local subnets, waits\nfor the mixer to connect and sends it the update file at the pace it expects.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QVR_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_LICENSE GPL-3)
# dpkg-shlibdeps finds the linked libraries; JUCE opens the X11 ones at run
# time (dlopen), and the fonts the texts are drawn in are ours to name.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2, fonts-ipafont-gothic, libx11-6, libxext6, libxrandr2, libxinerama1, libxcursor1, libxrender1")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "zenity")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${qvr_packaging}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)

include(CPack)
