# What `cmake --install build --prefix P` lays out, and what the Debian
# package holds under /usr: the installation only. Its files never change
# at run time and are found from the program's own path, so the same files
# work wherever they are put; each account keeps its state apart
# (src/device/working_directory.h):
#
#   P/lib/quovane/peerserver          the program, with its desktop library
#                                     libqvdesktop.so and its tray icon's image
#   P/lib/quovane/<module>.dll        links into webroot/, where device
#                                     messages look for a module
#   P/lib/quovane/webroot/            the pages, templates and modules (no
#                                     debug information)
#   P/bin/peerserver                  a link to the program
#   P/share/systemd/user/quovane.service   a systemd user unit
#                                     (P/lib/systemd/user/ when P is /usr)
#   P/share/quovane/QuovaneTray.desktop    the log-on (XDG autostart) entry
#   P/share/man/man1/peerserver.1.gz
#   P/share/doc/peerserver/copyright
#
# build/installed_files.txt lists every file the last `cmake --install`
# put there; the uninstall target removes them and the folders that are
# left empty.
option(QV_INSTALL_QVBROKER "Install the broker simulator qvbroker (a test and demo tool) into P/bin" OFF)
set(QV_HOME lib/quovane)

install(TARGETS peerserver RUNTIME DESTINATION ${QV_HOME})
install(TARGETS qvdesktop LIBRARY DESTINATION ${QV_HOME})
install(FILES ${CMAKE_SOURCE_DIR}/src/shell/resources/yxnet-tray.png DESTINATION ${QV_HOME})
if(TARGET qvbroker AND QV_INSTALL_QVBROKER)
  install(TARGETS qvbroker RUNTIME DESTINATION bin COMPONENT demo)
endif()

install(DIRECTORY ${CMAKE_SOURCE_DIR}/webroot/ DESTINATION ${QV_HOME}/webroot)
set(qv_installed_modules "")
foreach(module QvStatusModule QvDiagnosticModule)
  if(TARGET ${module})
    install(TARGETS ${module} LIBRARY DESTINATION ${QV_HOME}/webroot)
    list(APPEND qv_installed_modules ${module}.dll)
  endif()
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION share/doc/peerserver)

# Links and files that name the installed paths are made at install time,
# so --prefix (or the package's /usr) chooses them; each goes into the
# manifest by hand, named as installed (without DESTDIR, like the others).
install(CODE "
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  set(stage \"\$ENV{DESTDIR}\")
  set(home \"\${prefix}/${QV_HOME}\")
  set(made \"\")
  foreach(module ${qv_installed_modules})
    if(NOT \"${CMAKE_STRIP}\" STREQUAL \"\")
      execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug \"\${stage}\${home}/webroot/\${module}\")
    endif()
    file(REMOVE \"\${stage}\${home}/\${module}\")
    file(CREATE_LINK webroot/\${module} \"\${stage}\${home}/\${module}\" SYMBOLIC)
    list(APPEND made \"\${home}/\${module}\")
  endforeach()
  file(MAKE_DIRECTORY \"\${stage}\${prefix}/bin\")
  file(REMOVE \"\${stage}\${prefix}/bin/peerserver\")
  file(CREATE_LINK ../${QV_HOME}/peerserver \"\${stage}\${prefix}/bin/peerserver\" SYMBOLIC)
  list(APPEND made \"\${prefix}/bin/peerserver\")
  # Where systemd looks for a package's user units, and for others'.
  set(units \"\${prefix}/share/systemd/user\")
  if(prefix STREQUAL \"/usr\")
    set(units /usr/lib/systemd/user)
  endif()
  set(program \"\${prefix}/bin/peerserver\")
  configure_file(\"${CMAKE_SOURCE_DIR}/packaging/quovane.service.in\"
                 \"\${stage}\${units}/quovane.service\" @ONLY)
  configure_file(\"${CMAKE_SOURCE_DIR}/packaging/QuovaneTray.desktop.in\"
                 \"\${stage}\${prefix}/share/quovane/QuovaneTray.desktop\" @ONLY)
  file(MAKE_DIRECTORY \"\${stage}\${prefix}/share/man/man1\")
  execute_process(COMMAND gzip -9nc \"${CMAKE_SOURCE_DIR}/packaging/peerserver.1\"
                  OUTPUT_FILE \"\${stage}\${prefix}/share/man/man1/peerserver.1.gz\")
  list(APPEND made \"\${units}/quovane.service\" \"\${prefix}/share/quovane/QuovaneTray.desktop\"
       \"\${prefix}/share/man/man1/peerserver.1.gz\")
  foreach(file \${made})
    message(STATUS \"Installing: \${stage}\${file}\")
  endforeach()
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \${made})
  # The uninstall target's list. A package's staging (cpack, DESTDIR)
  # rewrites install_manifest.txt with its own paths, never this one.
  if(stage STREQUAL \"\")
    string(REPLACE \";\" \"\\n\" installed \"\${CMAKE_INSTALL_MANIFEST_FILES}\")
    file(WRITE \"${CMAKE_BINARY_DIR}/installed_files.txt\" \"\${installed}\\n\")
  endif()
")

add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -D MANIFEST=${CMAKE_BINARY_DIR}/installed_files.txt
          -P ${CMAKE_SOURCE_DIR}/cmake/QvUninstall.cmake
  COMMENT "Removing what the last cmake --install put into its prefix"
  VERBATIM)
