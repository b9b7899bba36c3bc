# The Debian package, built by scripts/package with CPack's DEB generator.
#
# Runtime dependencies on libraries come from the binaries (dpkg-shlibdeps). Only what the
# programs load at run time by name is listed: Qt's database drivers, the ODBC driver for SQL
# Server and the sound theme.

option(RAVLEK_DEBIAN_PACKAGE "Install the Debian package's own files (copyright, changelog)" OFF)

if(RAVLEK_DEBIAN_PACKAGE)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION ${RAVLEK_INSTALL_DOCDIR})
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/lintian-overrides
            DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ravlek)
    set(changelog ${CMAKE_BINARY_DIR}/changelog.Debian.gz)
    add_custom_command(OUTPUT ${changelog}
        COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/debian/changelog > ${changelog}
        DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
    add_custom_target(debian_changelog ALL DEPENDS ${changelog})
    install(FILES ${changelog} DESTINATION ${RAVLEK_INSTALL_DOCDIR})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ravlek)
set(CPACK_PACKAGE_VENDOR Kelvo)
set(CPACK_PACKAGE_CONTACT "Kelvo <ravlek@kelvo.se>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "capture dental X-ray images for the practice's journal program")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Ravlek is the capture bridge between a dental practice's journal program\n"
    "and its digital X-ray devices. The journal program starts Ravlek for one\n"
    "patient; the user picks a device and takes the image, and Ravlek stores it\n"
    "in the patient's folder with an information file and tells the journal\n"
    "program. Network devices are shared by several workstations through a\n"
    "register and a lock queue in the practice's SQLite, PostgreSQL or SQL\n"
    "Server database.\n"
    "\n"
    "The package holds ravlek with a menu entry for its settings window, a\n"
    "simulated device driver with its tool ravlek-sim, the settings registry\n"
    "tool ravlek-reg, the stand-in journal program ravlek-host, manual pages\n"
    "and the administrator's user guide.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://kelvo.se/ravlek/")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6sql6-psql, libqt6sql6-odbc, tdsodbc, sound-theme-freedesktop")

include(CPack)
