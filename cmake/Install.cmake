# Where `cmake --install` and the Debian package put the programs and their desktop files.
include(GNUInstallDirs)

install(TARGETS quibbleton quib RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages and the changelog are installed compressed, as Debian policy wants them.
set(QUIB_DOC_BUILD ${CMAKE_BINARY_DIR}/doc)
file(MAKE_DIRECTORY ${QUIB_DOC_BUILD})
string(TIMESTAMP QUIB_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/data/changelog.in ${QUIB_DOC_BUILD}/changelog @ONLY)
set(QUIB_COMPRESSED_DOCS)
foreach(doc man/quibbleton.1 man/quib.1 changelog)
  get_filename_component(name ${doc} NAME)
  if(doc STREQUAL "changelog")
    set(src ${QUIB_DOC_BUILD}/changelog)
  else()
    set(src ${PROJECT_SOURCE_DIR}/data/${doc})
  endif()
  add_custom_command(OUTPUT ${QUIB_DOC_BUILD}/${name}.gz
    COMMAND gzip -9nc ${src} > ${QUIB_DOC_BUILD}/${name}.gz
    DEPENDS ${src} VERBATIM)
  list(APPEND QUIB_COMPRESSED_DOCS ${QUIB_DOC_BUILD}/${name}.gz)
endforeach()
add_custom_target(quib_docs ALL DEPENDS ${QUIB_COMPRESSED_DOCS})

install(FILES ${QUIB_DOC_BUILD}/quibbleton.1.gz ${QUIB_DOC_BUILD}/quib.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${QUIB_DOC_BUILD}/changelog.gz data/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES data/icons/quibbleton.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES
  data/icons/quibbleton-no-phone-symbolic.svg
  data/icons/quibbleton-connected-symbolic.svg
  data/icons/quibbleton-not-permitted-symbolic.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/status)
install(FILES data/completions/quib DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The desktop entries and the user unit depend on the prefix in effect when installing, which for
# the package differs from the one configured here, so both are placed at install time: /etc goes
# with the /usr prefix, PREFIX/etc with any other.
install(CODE "set(QUIB_DATA \"${PROJECT_SOURCE_DIR}/data\")")
install(CODE [[
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(_quib_etc "/etc")
  else()
    set(_quib_etc "${CMAKE_INSTALL_PREFIX}/etc")
  endif()
  set(CMAKE_INSTALL_FULL_BINDIR "${CMAKE_INSTALL_PREFIX}/bin")
  set(_quib_stage "${CMAKE_CURRENT_BINARY_DIR}/quib-install-stage")
  file(MAKE_DIRECTORY "${_quib_stage}")
  configure_file("${QUIB_DATA}/quibbleton.service.in" "${_quib_stage}/quibbleton.service" @ONLY)
  configure_file("${QUIB_DATA}/quibbleton-autostart.desktop" "${_quib_stage}/quibbleton.desktop" COPYONLY)
  configure_file("${QUIB_DATA}/quibbleton.desktop" "${_quib_stage}/applications/quibbleton.desktop" @ONLY)
  file(INSTALL "${_quib_stage}/applications/quibbleton.desktop"
    DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications")
  file(INSTALL "${_quib_stage}/quibbleton.service"
    DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/user")
  file(INSTALL "${_quib_stage}/quibbleton.desktop" DESTINATION "${_quib_etc}/xdg/autostart")
  # The firewall's descriptions of the port and mDNS: firewalld reads its packaged services under
  # /usr/lib, ufw its application profiles under /etc.
  file(INSTALL "${QUIB_DATA}/firewall/quibbleton.xml" DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/firewalld/services")
  configure_file("${QUIB_DATA}/firewall/quibbleton.ufw" "${_quib_stage}/quibbleton" COPYONLY)
  file(INSTALL "${_quib_stage}/quibbleton" DESTINATION "${_quib_etc}/ufw/applications.d")
]])
