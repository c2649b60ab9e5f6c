# What an installation holds besides the program (src/app installs that), and
# the Debian package CPack builds from it: `cmake --build --preset release
# --target package` writes corvalle_<version>_<arch>.deb into the build folder.

set(CORVALLE_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)

install(FILES ${CORVALLE_PACKAGING}/org.corvalle.Corvalle.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CORVALLE_PACKAGING}/org.corvalle.Corvalle.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CORVALLE_PACKAGING}/org.corvalle.Corvalle-symbolic.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/symbolic/apps)
# The metainfo's screenshots are the images in packaging/screenshots, as the
# project's source repository serves them.
set(CORVALLE_SOURCE_URL "https://github.com/corvalle/corvalle"
    CACHE STRING "The project's source repository, for the AppStream links")
set(CORVALLE_SCREENSHOT_URL "${CORVALLE_SOURCE_URL}/raw/main/packaging/screenshots")
configure_file(${CORVALLE_PACKAGING}/org.corvalle.Corvalle.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/metainfo/org.corvalle.Corvalle.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/metainfo/org.corvalle.Corvalle.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The manual page carries the project's version; installed compressed, as
# Debian's manual pages are.
configure_file(${CORVALLE_PACKAGING}/corvalle.1.in ${PROJECT_BINARY_DIR}/man/corvalle.1 @ONLY)
find_program(CORVALLE_GZIP gzip REQUIRED)
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/man/corvalle.1.gz
  COMMAND ${CORVALLE_GZIP} -9 -n -c ${PROJECT_BINARY_DIR}/man/corvalle.1
          > ${PROJECT_BINARY_DIR}/man/corvalle.1.gz
  DEPENDS ${PROJECT_BINARY_DIR}/man/corvalle.1
  VERBATIM)
add_custom_target(corvalle_manpage ALL DEPENDS ${PROJECT_BINARY_DIR}/man/corvalle.1.gz)
install(FILES ${PROJECT_BINARY_DIR}/man/corvalle.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Debian's zsh reads packaged completions from share/zsh/vendor-completions;
# an installation under /usr/local may want share/zsh/site-functions instead.
set(CORVALLE_ZSH_COMPLETIONS_DIR ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions
    CACHE STRING "Where the zsh completion goes, below the prefix")
install(FILES ${CORVALLE_PACKAGING}/completions/corvalle.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME corvalle)
install(FILES ${CORVALLE_PACKAGING}/completions/_corvalle
        DESTINATION ${CORVALLE_ZSH_COMPLETIONS_DIR})
install(FILES ${CORVALLE_PACKAGING}/completions/corvalle.fish
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)

# Debian's documentation of every package: the copyright notice, and for a
# package that is its own upstream the changelog, compressed.
set(CORVALLE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/corvalle)
install(FILES ${CORVALLE_PACKAGING}/copyright DESTINATION ${CORVALLE_DOC_DIR})
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/doc/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
  COMMAND ${CORVALLE_GZIP} -9 -n -c ${CORVALLE_PACKAGING}/changelog
          > ${PROJECT_BINARY_DIR}/doc/changelog.gz
  DEPENDS ${CORVALLE_PACKAGING}/changelog
  VERBATIM)
add_custom_target(corvalle_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/doc/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/doc/changelog.gz DESTINATION ${CORVALLE_DOC_DIR})

# The Debian package. Its dependencies come from the binary's libraries
# (dpkg-shlibdeps): the platform plugins Corvalle loads at run time ship in
# libqt6gui6, which it links anyway.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvalle)
set(CPACK_PACKAGE_VENDOR Corvalle)
set(CORVALLE_MAINTAINER "The Corvalle developers <developers@corvalle.org>"
    CACHE STRING "The Debian package's maintainer: a name and an e-mail address")
set(CPACK_PACKAGE_CONTACT "${CORVALLE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CORVALLE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "per-application volume mixer for PipeWire")
set(CPACK_PACKAGE_DESCRIPTION
    "Corvalle gives every application that plays sound its own volume slider, from
silence to 400 %, and its own mute switch, independent of the system volume.
Settings are remembered per application, also while it is not running. It
lives in the system tray, picks the output device and can start at login.
The corvalle command controls the running mixer from scripts and key bindings.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY corvalle)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# Qt's SVG icon engine draws the program's icon and most applications' icons; it is
# loaded at run time, so no library names it. Debian 12 ships it in libqt6svg6, which
# the binary links; Debian 13 in a package of its own, which the package then needs.
execute_process(COMMAND dpkg-query -S "*/qt6/plugins/iconengines/libqsvgicon.so"
                OUTPUT_VARIABLE CORVALLE_SVG_ICON_OWNER ERROR_QUIET
                OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REGEX REPLACE "[:,].*" "" CORVALLE_SVG_ICON_OWNER "${CORVALLE_SVG_ICON_OWNER}")
if(CORVALLE_SVG_ICON_OWNER STREQUAL "")
  message(WARNING "Qt's SVG icon engine is not installed: icons will be missing "
                  "(Debian 13: qt6-svg-plugins; bash scripts/install-deps)")
elseif(NOT CORVALLE_SVG_ICON_OWNER MATCHES "^libqt6svg6")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CORVALLE_SVG_ICON_OWNER}")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire, wireplumber, qt6-wayland")
# Qt's own texts (the help's headings, standard buttons) in the user's language.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-translations-l10n")
set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git/")
include(CPack)
