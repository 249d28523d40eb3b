# Installation layout and the Debian package. `cmake --install` puts the program in bin/,
# the menu entry and icon under share/, and the dongle's udev rule where the device folder
# installs it; `cpack` (or the `package` target) wraps the same files in a .deb for /usr.
include(GNUInstallDirs)

# Who answers for the package: a release names a mail address that reaches them.
set(KAVRI_PACKAGE_CONTACT "Kavri developers <kavri@example.org>" CACHE STRING
    "The Debian package's maintainer, as a name and a mail address")

add_subdirectory(${PROJECT_SOURCE_DIR}/packaging ${PROJECT_BINARY_DIR}/packaging)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kavri)
set(CPACK_PACKAGE_VENDOR "Kavri developers")
set(CPACK_PACKAGE_CONTACT "${KAVRI_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Spotlight, laser dot, magnifier and black screen for a wireless presenter")
# The extended description in lines Debian's tools read (under 80 columns each).
set(CPACK_PACKAGE_DESCRIPTION
    "Kavri is the desktop companion of a wireless presentation remote. It draws\n"
    "presentation effects over the screen that follow the mouse pointer\n"
    "(spotlight, laser dot, magnifier, black screen) and is the settings window\n"
    "for them and for the presenter. Scripts and desktop shortcuts steer it with\n"
    "kavri --show, --hide, --toggle, --effect and --size.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies (Qt, hidapi) are read from the program by dpkg-shlibdeps, so the
# package names of whichever Qt it was built with come from the system that builds it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt 6 keeps its window-system plugins (xcb) out of its libraries' packages, and libqt6gui6
# only recommends them: without them the program cannot open a window.
if(KAVRI_QT_MAJOR EQUAL 6)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
