# Where `cmake --install` puts things, and the Debian package CPack makes of them
# (`cpack -G DEB` in the build folder, or `ninja package`).
include(GNUInstallDirs)

install(TARGETS clarow retyper RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The shared files an installed clarow looks for in ../share/clarow: the empty database
# copied into each user's data folder at the first start, the manual, the firmware image.
install(FILES ${CLAROW_EMPTY_DB} ${CLAROW_MANUAL} ${CLAROW_BUILT_IMAGE}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/clarow)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/clarow.desktop ${CMAKE_CURRENT_LIST_DIR}/retyper.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/clarow.svg ${CMAKE_CURRENT_LIST_DIR}/retyper.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/clarow.service DESTINATION lib/systemd/system)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME clarow)
set(CPACK_PACKAGE_VENDOR Quillmark)
set(CPACK_PACKAGE_CONTACT "Quillmark <clarow@quillmark.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "1-Wire sensor monitor for the Varnex serial adapter")
set(CPACK_PACKAGE_DESCRIPTION
    "Watches 1-Wire temperature sensors and multi-sensors on a Varnex serial adapter, raises\
 per-sensor alarms, mails them over SMTP, keeps their history and shows it as a status grid,\
 a log and a graph. Also runs without windows as a service (clarow --headless).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Qt plug-ins are loaded at run time, so shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, qt6-qpa-plugins")
include(CPack)
