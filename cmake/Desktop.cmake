# What a desktop install holds besides the program: the manual (beside the
# program in the build tree, as installed), the man page, the menu entry, the
# icons and the Debian package that carries them all.
include(GNUInstallDirs)

set(PV_BIN ${PROJECT_BINARY_DIR}/bin)
set(PV_HELP_SOURCES ${PROJECT_SOURCE_DIR}/resources/help/index.html ${PROJECT_SOURCE_DIR}/resources/help/manual.css)
add_custom_command(
  OUTPUT ${PV_BIN}/help/index.html ${PV_BIN}/help/manual.css ${PV_BIN}/help/command-line.html
         ${PV_BIN}/help/formats.html ${PROJECT_BINARY_DIR}/man/pictoravine.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PV_BIN}/help ${PROJECT_BINARY_DIR}/man
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PV_HELP_SOURCES} ${PV_BIN}/help/
  COMMAND pv_make_docs ${PROJECT_BINARY_DIR}/man/pictoravine.1 ${PV_BIN}/help
  COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/man/pictoravine.1
  DEPENDS pv_make_docs ${PV_HELP_SOURCES}
  COMMENT "Writing the manual and the man page"
  VERBATIM)

set(PV_ICON_SVG ${PROJECT_SOURCE_DIR}/resources/icons/pictoravine.svg)
set(PV_ICON_SIZES 16 24 32 48 64 128 256)
set(PV_ICON_PNGS)
foreach(size IN LISTS PV_ICON_SIZES)
  set(png ${PROJECT_BINARY_DIR}/icons/${size}x${size}/pictoravine.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/icons/${size}x${size}
    COMMAND pv_render_icon ${PV_ICON_SVG} ${size} ${png}
    DEPENDS pv_render_icon ${PV_ICON_SVG}
    VERBATIM)
  list(APPEND PV_ICON_PNGS ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

add_custom_target(pv_desktop_files ALL DEPENDS
  ${PV_BIN}/help/index.html ${PROJECT_BINARY_DIR}/man/pictoravine.1.gz ${PV_ICON_PNGS})

install(FILES ${PROJECT_SOURCE_DIR}/resources/data.dat DESTINATION ${CMAKE_INSTALL_DATADIR}/pictoravine)
install(DIRECTORY ${PV_BIN}/help DESTINATION ${CMAKE_INSTALL_DATADIR}/pictoravine)
install(FILES ${PROJECT_BINARY_DIR}/man/pictoravine.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The desktop file and the software centres' listing share one id (the
# reverse-DNS name AppStream asks for).
set(PV_DESKTOP_ID org.example.pictoravine.Pictoravine)
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/${PV_DESKTOP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/${PV_DESKTOP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PV_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/resources/desktop/changelog > ${PROJECT_BINARY_DIR}/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/resources/desktop/changelog)
add_custom_target(pv_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/copyright ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pictoravine)

# The Debian package: cpack -G DEB in the build folder (make package).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pictoravine)
set(CPACK_PACKAGE_VENDOR "The Pictoravine developers")
set(CPACK_PACKAGE_CONTACT "Pictoravine developers <developers@pictoravine.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch image converter with a filter chain")
set(CPACK_PACKAGE_DESCRIPTION
    "Pictoravine converts many images at once: each image of a list is loaded, run\n"
    "through an ordered chain of filters and saved in one chosen output format.\n"
    "It has a Qt window, a command line that runs without a display, and a menu\n"
    "in the Files, Nemo, Caja, Thunar and Dolphin file managers.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's SVG plugins draw the icons; the libraries' own dependencies are found
# by dpkg-shlibdeps. wl-clipboard reaches the clipboard where the only
# display is Wayland's.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "wl-clipboard")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "nautilus | nemo | caja | thunar | dolphin")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
