# Desktop integration files and the Debian package.
include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/data/dosimeter-manager.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/icons/dosimeter-manager.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/data/org.borealis.DosimeterManager.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# Access to USB IrDA bridges for the group plugdev and the user at the seat.
if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/data/70-dosimeter-manager-irda.rules DESTINATION lib/udev/rules.d)
endif()

set(CPACK_PACKAGE_NAME "dosimeter-manager")
set(CPACK_PACKAGE_VENDOR "Borealis Radiometrics")
set(CPACK_PACKAGE_CONTACT "support@borealis-radiometrics.example")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Manager for KRT-17A and MLV-52B personal radiation dosimeters")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR "DEB")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "science")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Manager for KRT-17A and MLV-52B personal radiation dosimeters
 Reads a dosimeter out over an infrared link, changes its settings, erases its total
 dose, downloads its dose history into tables and diagrams and saves tables to text
 files, in English or Russian. Includes the command-line tool dosimeter-cli.")
# The debug information stays in the build tree; the package carries stripped programs.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
include(CPack)
