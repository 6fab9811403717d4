# The Debian package. Its dependencies on shared libraries are found by
# dpkg-shlibdeps; adduser makes the service's user; libjs-chart.js holds
# the Chart.js that tallyphon-web serves to draw its charts.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tallyphon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tallyphon developers <tallyphon-support@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "call accounting for VERANTA office telephone exchanges")
# The summary above is the first line; this is the text below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tallyphon identifies a VERANTA office telephone exchange on a serial port,
reads the call records of its billing buffer into a call-log file, once or
continuously, and builds reports of the calls by subscriber line and trunk.
It can run without a display as a system service (tallyphon.service), and
tallyphon-web (tallyphon-web.service) shows the calls of its PostgreSQL
database in a browser.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libjs-chart.js")
# The printed bill is set in DejaVu Sans, whose Cyrillic it needs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/prerm ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/build.*/" "/\\\\.git/")
include(CPack)
