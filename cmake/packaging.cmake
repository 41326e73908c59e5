# The Debian package of a station, built by scripts/package: the program, the database files under
# share/kalimo, the desktop autostart entry, and the maintainer scripts that create the station
# folder /var/lib/kalimo (its ownership and mode are explained in packaging/debian/postinst).

install(FILES ${CMAKE_SOURCE_DIR}/db/schema.sql ${CMAKE_SOURCE_DIR}/db/demo.sql ${CMAKE_SOURCE_DIR}/db/station_account.sql
        ${CMAKE_SOURCE_DIR}/db/staff_account.sql DESTINATION share/kalimo)
# Absolute on purpose: desktop sessions look for autostart entries there whatever the prefix.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/kalimo.desktop DESTINATION /etc/xdg/autostart)
# The X server setting that turns off its own key chords (console switch, ending the server).
install(FILES ${CMAKE_SOURCE_DIR}/packaging/50-kalimo.conf DESTINATION /usr/share/X11/xorg.conf.d)
# The guard's system unit, enabled by the postinst.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/kalimo-guard.service DESTINATION /lib/systemd/system)

set(KALIMO_PACKAGE_MAINTAINER "Kalimo developers <kalimo@localhost>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kalimo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${KALIMO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "station client for public-access computer rooms")
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kalimo locks a computer of a public room while nobody is signed in, signs visitors\n"
    "and staff in against the room's shared MariaDB or MySQL database, times each visitor's\n"
    "session against a daily credit and takes self-registrations. It starts with every\n"
    "desktop session and reads its configuration from /var/lib/kalimo.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from dpkg-shlibdeps; the xcb platform plugin is loaded at run time, so it is
# named here, as are adduser for the group the maintainer scripts create and init-system-helpers for
# the guard's unit.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, adduser, init-system-helpers")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/debian/conffiles
    ${CMAKE_SOURCE_DIR}/packaging/debian/postinst
    ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
    ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)

include(CPack)
