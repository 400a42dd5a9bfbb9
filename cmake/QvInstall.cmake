# What `cmake --install build --prefix P` lays out: one folder per
# installation, P/lib/quovane, shaped as the device-identity code expects of
# a program started at log-on or from anywhere (its working directory is the
# folder above the "QvServer" folder that holds the program):
#
#   P/lib/quovane/work/            working directory: vane.ini, logs, records,
#                                  links to the modules (for device messages)
#   P/lib/quovane/work/QvServer/   peerserver, its desktop library and its
#                                  tray icon's image
#   P/lib/quovane/webroot/         the pages and the modules (AppPath)
#   P/lib/quovane/doc/             port.js ("..\doc\port.js" from work/)
#   P/bin/peerserver               a link to the program
#   P/share/systemd/user/quovane.service          a systemd user unit
#   P/share/quovane/QuovaneTray.desktop           the log-on (XDG autostart) entry
#
# An existing vane.ini is kept: installing again never loses a device's
# settings. install_manifest.txt lists every installed file but vane.ini, so
# that removing the listed files uninstalls and keeps the device's settings
# and records. The modules are installed once, without debug information.
option(QV_INSTALL_QVBROKER "Install the broker simulator qvbroker (a test and demo tool) into P/bin" OFF)
set(QV_HOME lib/quovane)

install(TARGETS peerserver RUNTIME DESTINATION ${QV_HOME}/work/QvServer)
install(TARGETS qvdesktop LIBRARY DESTINATION ${QV_HOME}/work/QvServer)
install(FILES ${CMAKE_SOURCE_DIR}/src/shell/resources/yxnet-tray.png
        DESTINATION ${QV_HOME}/work/QvServer)
if(TARGET qvbroker AND QV_INSTALL_QVBROKER)
  install(TARGETS qvbroker RUNTIME DESTINATION bin)
endif()

install(DIRECTORY ${CMAKE_SOURCE_DIR}/webroot/ DESTINATION ${QV_HOME}/webroot)
install(FILES ${CMAKE_SOURCE_DIR}/webroot/vclient/port.htx DESTINATION ${QV_HOME}/work/vclient)
install(DIRECTORY DESTINATION ${QV_HOME}/doc)
set(qv_installed_modules "")
foreach(module QvStatusModule QvDiagnosticModule)
  if(TARGET ${module})
    install(TARGETS ${module} LIBRARY DESTINATION ${QV_HOME}/webroot)
    list(APPEND qv_installed_modules ${module}.dll)
  endif()
endforeach()

# Links and files that name the installed paths are made at install time, so
# --prefix chooses them; each goes into the manifest by hand.
install(CODE "
  set(home \"\${CMAKE_INSTALL_PREFIX}/${QV_HOME}\")
  set(dest \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  set(root \"\$ENV{DESTDIR}\${home}\")
  foreach(module ${qv_installed_modules})
    if(NOT \"${CMAKE_STRIP}\" STREQUAL \"\")
      execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug \"\${root}/webroot/\${module}\")
    endif()
    file(REMOVE \"\${root}/work/\${module}\")
    file(CREATE_LINK ../webroot/\${module} \"\${root}/work/\${module}\" SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${root}/work/\${module}\")
  endforeach()
  file(MAKE_DIRECTORY \"\${dest}/bin\")
  file(CREATE_LINK ../${QV_HOME}/work/QvServer/peerserver \"\${dest}/bin/peerserver\" SYMBOLIC)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${dest}/bin/peerserver\")
  set(ini \"\${root}/work/vane.ini\")
  if(NOT EXISTS \"\${ini}\")
    configure_file(\"${CMAKE_SOURCE_DIR}/packaging/vane.ini.in\" \"\${ini}\" @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE)
  endif()
  configure_file(\"${CMAKE_SOURCE_DIR}/packaging/quovane.service.in\"
                 \"\${dest}/share/systemd/user/quovane.service\" @ONLY)
  configure_file(\"${CMAKE_SOURCE_DIR}/packaging/QuovaneTray.desktop.in\"
                 \"\${dest}/share/quovane/QuovaneTray.desktop\" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${dest}/share/systemd/user/quovane.service\"
       \"\${dest}/share/quovane/QuovaneTray.desktop\")
  message(STATUS \"Working directory: \${home}/work (settings in vane.ini)\")
")
