# The Debian package: `cpack -G DEB` in the build directory. Dependencies come from the shared
# libraries the programs link (dpkg-shlibdeps).
set(CPACK_PACKAGE_NAME quibbleton)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quibbleton developers <quibbleton@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop companion server for the Quibbleton phone button pad")
# CPack puts the summary first and indents the lines below it; an empty line separates paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Quibbleton lets a paired phone act as a remote button pad for this
computer: keystrokes and typed text, media keys, audio output switches,
pointer moves, clicks and scrolls, application launches, addresses,
clipboard history, and application and web-site icons for its buttons.

The phone finds the computer by DNS-SD and pairs once with a six-digit
code shown in the status menu in the panel; every line is sealed with
ChaCha20-Poly1305. The package also carries quib, a command-line phone.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/quibbleton")
# Files under /etc are the administrator's once installed.
file(WRITE ${CMAKE_BINARY_DIR}/debian-control/conffiles
  "/etc/ufw/applications.d/quibbleton\n/etc/xdg/autostart/quibbleton.desktop\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian-control/conffiles)
# Install with DESTDIR and the /usr prefix, so that the install-time rules see the real prefix.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
include(CPack)
