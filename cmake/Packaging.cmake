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

# PNG icons beside the SVG, for menus and software centres that take no SVG (rendered
# from it: rsvg-convert -w N -h N data/icons/dosimeter-manager.svg).
foreach(size 48x48 256x256)
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/${size}/dosimeter-manager.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}/apps)
endforeach()

# What Debian asks of every package: the copyright and changelog under
# /usr/share/doc/<package> (the changelog gzipped), manual pages, and the shell's
# completion of dosimeter-cli. The manual pages are made from the programs' own --help
# when installing, so they always describe the programs installed beside them.
if(UNIX)
  set(dm_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/dosimeter-manager)
  set(dm_man_dir ${CMAKE_BINARY_DIR}/man)
  set(dm_window_program "")
  if(TARGET dosimeter-manager)
    set(dm_window_program "$<TARGET_FILE:dosimeter-manager>")
  endif()
  install(CODE "
    execute_process(COMMAND bash \"${PROJECT_SOURCE_DIR}/packaging/man-pages.sh\" \"${dm_man_dir}\"
                            \"$<TARGET_FILE:dosimeter-cli>\" \"${dm_window_program}\"
                    RESULT_VARIABLE dm_result)
    execute_process(COMMAND gzip -9nc \"${PROJECT_SOURCE_DIR}/packaging/changelog\"
                    OUTPUT_FILE \"${dm_man_dir}/changelog.gz\" RESULT_VARIABLE dm_gzip)
    if(dm_result OR dm_gzip)
      message(FATAL_ERROR \"the manual pages or the changelog could not be made\")
    endif()")
  install(FILES ${dm_man_dir}/dosimeter-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  if(TARGET dosimeter-manager)
    install(FILES ${dm_man_dir}/dosimeter-manager.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${dm_man_dir}/changelog.gz
          DESTINATION ${dm_doc_dir})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/dosimeter-cli.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME dosimeter-cli)
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
 files, in English or Russian. Keeps every readout in a dose records database (SQLite,
 or PostgreSQL shared by reader stations) with wearers, their dose of record against
 the limits, CSV exports and yearly PDF dose records. Includes the command-line tool
 dosimeter-cli.")
# The debug information stays in the build tree; the package carries stripped programs.
set(CPACK_STRIP_FILES ON)
# Beside the libraries found by dpkg-shlibdeps: Qt's SQLite driver, which the records
# database needs and nothing links; the PostgreSQL driver and Qt's own translations
# (the Russian buttons and file dialog) are recommended.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6sql6-psql, qt6-translations-l10n")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
include(CPack)
