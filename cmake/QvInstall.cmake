# What `cmake --install build --prefix P` lays out: one folder per
# installation, P/lib/quovane, shaped as the device-identity code expects of
# a program started at log-on (its working directory is the folder above the
# "QvServer" folder that holds the program):
#
#   P/lib/quovane/work/            working directory: vane.ini, logs, records,
#                                  modules for device messages
#   P/lib/quovane/work/QvServer/   peerserver, its desktop library and its
#                                  tray icon's image
#   P/lib/quovane/webroot/         the pages and modules (AppPath)
#   P/lib/quovane/doc/             port.js ("..\doc\port.js" from work/)
#   P/bin/peerserver, P/bin/qvbroker
#   P/share/systemd/user/quovane.service          a systemd user unit
#   P/share/quovane/QuovaneTray.desktop           the log-on (XDG autostart) entry
#
# An existing vane.ini is kept: installing again never loses a device's
# settings.
set(QV_HOME lib/quovane)

install(TARGETS peerserver RUNTIME DESTINATION ${QV_HOME}/work/QvServer)
install(TARGETS qvdesktop LIBRARY DESTINATION ${QV_HOME}/work/QvServer)
install(FILES ${CMAKE_SOURCE_DIR}/src/shell/resources/yxnet-tray.png
        DESTINATION ${QV_HOME}/work/QvServer)
install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
  file(CREATE_LINK ../${QV_HOME}/work/QvServer/peerserver
       \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/peerserver\" SYMBOLIC)")
if(TARGET qvbroker)
  install(TARGETS qvbroker RUNTIME DESTINATION bin OPTIONAL)
endif()

install(DIRECTORY ${CMAKE_SOURCE_DIR}/webroot/ DESTINATION ${QV_HOME}/webroot)
install(FILES ${CMAKE_SOURCE_DIR}/webroot/vclient/port.htx DESTINATION ${QV_HOME}/work/vclient)
install(DIRECTORY DESTINATION ${QV_HOME}/doc)
foreach(module QvStatusModule QvDiagnosticModule)
  if(TARGET ${module})
    install(TARGETS ${module} LIBRARY DESTINATION ${QV_HOME}/webroot OPTIONAL)
    install(TARGETS ${module} LIBRARY DESTINATION ${QV_HOME}/work OPTIONAL)
  endif()
endforeach()

# Files that name the installed paths are written at install time, so
# --prefix chooses them.
install(CODE "
  set(home \"\${CMAKE_INSTALL_PREFIX}/${QV_HOME}\")
  set(dest \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  set(ini \"\$ENV{DESTDIR}\${home}/work/vane.ini\")
  if(NOT EXISTS \"\${ini}\")
    configure_file(\"${CMAKE_SOURCE_DIR}/packaging/vane.ini.in\" \"\${ini}\" @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE)
  endif()
  configure_file(\"${CMAKE_SOURCE_DIR}/packaging/quovane.service.in\"
                 \"\${dest}/share/systemd/user/quovane.service\" @ONLY)
  configure_file(\"${CMAKE_SOURCE_DIR}/packaging/QuovaneTray.desktop.in\"
                 \"\${dest}/share/quovane/QuovaneTray.desktop\" @ONLY)
  message(STATUS \"Working directory: \${home}/work (settings in vane.ini)\")
")
