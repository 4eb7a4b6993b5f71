# Installs the server's systemd unit and its defaults file. Runs at install time because only
# then is the prefix known (cmake --install --prefix and cpack choose it after configuring),
# and the unit names the installed program and the defaults file by absolute path.
# Expects OSTREL_PACKAGING_SOURCE_DIR, OSTREL_PACKAGING_BINARY_DIR and OSTREL_INSTALL_BINDIR.
set(prefix "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "(.)/+$" "\\1" prefix "${prefix}")
# As GNUInstallDirs does: a /usr or / prefix keeps its configuration in /etc.
if(prefix STREQUAL "/usr" OR prefix STREQUAL "/")
  set(OSTREL_SYSCONFDIR "/etc")
else()
  set(OSTREL_SYSCONFDIR "${prefix}/etc")
endif()
if(IS_ABSOLUTE "${OSTREL_INSTALL_BINDIR}")
  set(OSTREL_BINDIR "${OSTREL_INSTALL_BINDIR}")
else()
  set(OSTREL_BINDIR "${prefix}/${OSTREL_INSTALL_BINDIR}")
endif()
if(prefix STREQUAL "/")
  set(unitdir "/lib/systemd/system")
else()
  set(unitdir "${prefix}/lib/systemd/system")
endif()

set(unit "${OSTREL_PACKAGING_BINARY_DIR}/ostrel-lobby-server.service")
configure_file("${OSTREL_PACKAGING_SOURCE_DIR}/ostrel-lobby-server.service.in" "${unit}" @ONLY)
file(INSTALL DESTINATION "${unitdir}" TYPE FILE FILES "${unit}")
file(INSTALL DESTINATION "${OSTREL_SYSCONFDIR}/default" TYPE FILE
  FILES "${OSTREL_PACKAGING_SOURCE_DIR}/ostrel-lobby-server.default"
  RENAME ostrel-lobby-server)
