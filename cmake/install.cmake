# What `cmake --install` puts under its prefix, and the Debian package made
# from the same tree (make deb).
include(GNUInstallDirs)

add_executable(tunabel-desktop-entry src/desktopentry.cpp)
target_link_libraries(tunabel-desktop-entry PRIVATE tunabel_app)
target_compile_options(tunabel-desktop-entry PRIVATE ${TUNABEL_WARNINGS})

install(TARGETS tunabel tunabel-player RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The entry names the installed command by its full path, worked out when
# the prefix is known (cmake --install --prefix may change it).
install(CODE "
  set(bin \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  if(NOT IS_ABSOLUTE \"\${bin}\")
    get_filename_component(bin \"\${bin}\" ABSOLUTE)
  endif()
  execute_process(
    COMMAND \"$<TARGET_FILE:tunabel-desktop-entry>\" \"${CMAKE_SOURCE_DIR}/resources/tunabel.desktop.in\" \"\${bin}/tunabel\"
    OUTPUT_VARIABLE entry RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR \"the desktop entry could not be made\")
  endif()
  set(to \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications/tunabel.desktop\")
  message(STATUS \"Installing: \${to}\")
  file(WRITE \"\${to}\" \"\${entry}\")
")

install(FILES resources/icons/note.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME tunabel.svg)
install(FILES resources/tunabel.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES resources/org.example.tunabel.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES resources/tunabel.1 resources/tunabel-player.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tunabel)
set(CPACK_PACKAGE_VENDOR Tunabel)
set(CPACK_PACKAGE_CONTACT "Tunabel <auteur@tunabel.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "lecteur audio des dossiers, au hasard ou en programme")
set(CPACK_PACKAGE_DESCRIPTION
    "Tunabel joue les fichiers son du dossier courant l'un après l'autre, au hasard, en introductions ou dans l'ordre d'un programme enregistré en liste de lecture.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tunabel.example.org/")
# The libraries come from dpkg-shlibdeps; libpulse, the GStreamer elements
# and Qt's platform plugin and French texts are loaded at run time, so named
# here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libpulse0, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, gstreamer1.0-plugins-ugly, gstreamer1.0-pulseaudio, gstreamer1.0-x, qt6-qpa-plugins, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse, qt6-wayland, fluid-soundfont-gm, xdg-utils")
include(CPack)
