# The Windows build's installer: `cpack -G NSIS` in build-win32 makes
# peerserver-<version>-win32.exe with Debian's makensis, from our own
# template (packaging/win32/NSIS.template.in). It installs for the current
# user, without administrator rights, into
# %LOCALAPPDATA%\Programs\Quovane, shaped as the program finds its files
# when started at log-on (its working directory is the folder above the
# "QvServer" folder it runs from):
#
#   work\              working directory: vane.ini (written fresh only where
#                      none is), logs, records, the modules (found by name
#                      for device messages), vclient\port.htx
#   work\QvServer\     peerserver.exe and its tray icon's image
#   webroot\           the pages, templates and modules (AppPath)
#   doc\               port.js ("..\doc\port.js" from work\)
#   QvStart.exe        the Start menu's entry: starts the program unless it
#                      runs, then opens its start page
#   Uninstall.exe
#
# It writes the log-on entry (QuovaneTray under the current user's Run key)
# and the uninstall entry under the current user's Uninstall key. Nothing
# here is signed.
find_program(QV_MAKENSIS makensis REQUIRED)
set(QV_INSTALL_KEY Quovane)
set(qv_win32 ${CMAKE_SOURCE_DIR}/packaging/win32)
set(qv_icon ${CMAKE_SOURCE_DIR}/src/shell/resources/yxnet-tray.ico)

install(TARGETS peerserver RUNTIME DESTINATION work/QvServer)
install(FILES ${qv_icon} DESTINATION work/QvServer)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/webroot/ DESTINATION webroot)
install(FILES ${CMAKE_SOURCE_DIR}/webroot/vclient/port.htx DESTINATION work/vclient)
foreach(module QvStatusModule QvDiagnosticModule)
  # No links on Windows: the working directory gets a copy of its own.
  install(TARGETS ${module} RUNTIME DESTINATION webroot)
  install(TARGETS ${module} RUNTIME DESTINATION work)
endforeach()

# The Start menu's entry, an NSIS program of its own.
set(qv_start ${CMAKE_BINARY_DIR}/bin/QvStart.exe)
add_custom_command(OUTPUT ${qv_start}
  COMMAND ${QV_MAKENSIS} -V2 -NOCD
          "-DOUTFILE=${qv_start}" "-DICON=${qv_icon}" "-DPRODUCT=${QV_PRODUCT_NAME}"
          "-DVENDOR=${QV_VENDOR}" "-DVERSION=${PROJECT_VERSION}"
          ${qv_win32}/start.nsi
  DEPENDS ${qv_win32}/start.nsi ${qv_icon}
  COMMENT "Making QvStart.exe with makensis"
  VERBATIM)
add_custom_target(qvstart ALL DEPENDS ${qv_start})
install(PROGRAMS ${qv_start} DESTINATION .)

# The fresh vane.ini, key by key from the one the Linux installation writes:
# the installer writes these only where no vane.ini is.
set(qv_settings "")
set(qv_section "")
file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/vane.ini qv_ini_lines)
foreach(line IN LISTS qv_ini_lines)
  if(line MATCHES "^\\[(.+)\\]$")
    set(qv_section "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^([^=]+)=(.*)$")
    set(key "${CMAKE_MATCH_1}")
    string(REPLACE "$" "$$" value "${CMAKE_MATCH_2}")
    # The web root is the installation's, named in full: no links here.
    if(key STREQUAL "AppPath")
      set(value "$INSTDIR\\webroot")
    endif()
    string(APPEND qv_settings
           "    WriteINIStr \"$INSTDIR\\work\\vane.ini\" \"${qv_section}\" \"${key}\" \"${value}\"\n")
  endif()
endforeach()

# The package's shared settings and include(CPack) are QvPackage.cmake's,
# which includes this file.
set(CPACK_PACKAGE_FILE_NAME peerserver-${PROJECT_VERSION}-win32)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Quovane)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY ${QV_INSTALL_KEY})
set(CPACK_NSIS_PACKAGE_NAME ${QV_PRODUCT_NAME})
set(CPACK_NSIS_DISPLAY_NAME ${QV_PRODUCT_NAME})
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
set(CPACK_VERBATIM_VARIABLES TRUE)
set(CPACK_MODULE_PATH ${qv_win32} ${CMAKE_MODULE_PATH})
# Read by our template, not by CPack itself.
set(CPACK_QV_ICON ${qv_icon})
set(CPACK_QV_FRESH_SETTINGS "${qv_settings}")
set(CPACK_QV_VERSION_NUMBERS ${PROJECT_VERSION}.0)
if(NOT CPACK_GENERATOR)
  set(CPACK_GENERATOR NSIS)
endif()
