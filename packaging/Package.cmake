# The Debian package: `cpack -G DEB` in the build folder (scripts/package.sh builds and runs it).
# Its dependencies are those of the libraries the programs and the virtual camera library link
# (dpkg-shlibdeps), plus what they load at run time that no link shows: the QML modules that the window
# imports, Qt Multimedia's plugins (the camera list), and the ffmpeg program, which tarn-tool runs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TARN_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarn Player developers")
set(CPACK_PACKAGE_CONTACT "${TARN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer for USB thermal-imaging cameras")
# The long description, in lines of at most 80 characters as Debian's control files want them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Tarn Player shows the live picture of a USB (UVC) thermal-imaging camera in"
    "one window, with the camera's serial number in the title, its record, palette,"
    "tracking and flat-field correction commands, and a zoom. The camera is found"
    "and opened by itself, and opened again when its picture stops."
    "tarn-player-sim runs the same viewer on a virtual thermal camera made in"
    "software, for trying it without a camera.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qml-module-qtquick2, qml-module-qtquick-window2, \
qml-module-qtquick-controls2, qml-module-qtmultimedia, libqt5multimedia5-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ffmpeg")

include(CPack)
