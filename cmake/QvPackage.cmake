# Packages of what cmake/QvInstall.cmake installs, made by `cpack` in the
# build folder: `cpack -G DEB` a Debian package installing under /usr (the
# program, its desktop library, the pages, templates and modules, the
# systemd user unit, the log-on entry, the man page and the copyright),
# with its dependencies read from the libraries the programs link. Test
# programs have no install rules and qvbroker is another component, so the
# package holds neither. The Windows installer's settings come from
# QvPackageNsis.cmake.
set(CPACK_PACKAGE_NAME peerserver)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR ${QV_VENDOR})
set(CPACK_PACKAGE_CONTACT "The peerserver developers <peerserver@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Device agent of the Yxnetwork photo- and file-sharing network")
set(CPACK_PACKAGE_DESCRIPTION
    "peerserver makes this computer a device of the network: a local web server whose pages \
are the user's interface, a host for the plug-in modules those pages call, and the device's \
session with the network's broker, directly or through an HTTP or SOCKS 5 proxy. The \
diagnostic plug-in tells a user who cannot reach the network why. Each account keeps its \
settings, logs and records in ~/.local/state/quovane.")
# The one component to install (every install rule's unless it names
# another, CMakeLists.txt): qvbroker, when installed at all, is "demo".
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};peerserver;/")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  include(QvPackageNsis)
else()
  # The Debian package. DESTDIR staging keeps /usr in the unit, the log-on
  # entry and the links that the install writes.
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_INSTALL_PREFIX /usr)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The proxy settings of GNOME and PAC files are libproxy's plug-ins; the
  # help file opens with xdg-open.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
      "libproxy1-plugin-gsettings, libproxy1-plugin-webkit, xdg-utils")
endif()
include(CPack)
