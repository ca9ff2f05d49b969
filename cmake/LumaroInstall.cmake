# Installs Lumaro like a desktop application: the programs, the desktop entry
# (so the menu and the file manager offer it), the icons and the AppStream
# description; and packs the same files into a Debian package with CPack.

include(GNUInstallDirs)

set(LUMARO_APP_ID example.lumaro.Lumaro)

install(TARGETS lumaro lumaro-render lumaro-fetch lumaro-reach
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/${LUMARO_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/${LUMARO_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/icons/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumaro)
set(CPACK_PACKAGE_VENDOR "The Lumaro developers")
set(CPACK_PACKAGE_CONTACT "The Lumaro developers <lumaro@lumaro.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Black-and-white photo editor")
set(CPACK_PACKAGE_DESCRIPTION
    "Turns photos into black-and-white, sepia and toned pictures with light and dark\n\
sliders, colour filters, a vignette and processing effects; saves at full resolution\n\
keeping the photo's metadata. With lumaro-render, lumaro-fetch and lumaro-reach.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: the window system
# plugins, the decoders for TIFF and WebP, and the SVG renderer of the icons.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-image-formats-plugins, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
include(CPack)
