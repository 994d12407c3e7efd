# The Debian package: everything `cmake --install` puts in place, under /usr. Its dependencies are the shared
# libraries the two programs link (found by dpkg-shlibdeps) plus what the desktop loads at run time: the QML
# modules its screen imports and the platform plugins that open a window.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rirudez)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Rirudez Desktop developers")
set(CPACK_PACKAGE_CONTACT "The Rirudez Desktop developers <developers@rirudez.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop companion and local bridge for coding agents")
set(CPACK_PACKAGE_DESCRIPTION
    "Rirudez follows and steers conversations with the coding agents claude and codex through the Zad Ezarur,\n"
    "a local bridge service. The package holds the desktop application rirudez-desktop and the bridge\n"
    "zad-ezarur-bridge with a systemd user unit (systemctl --user enable --now zad-ezarur-bridge).")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://rirudez.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qml6-module-qtquick, qml6-module-qtquick-controls, qml6-module-qtquick-templates, qml6-module-qtquick-window, qml6-module-qtqml-workerscript, qt6-qpa-plugins, qml6-module-qtquick-layouts, qml6-module-qtquick-dialogs, qml6-module-qtmultimedia, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
# The bridge reads the git status of its projects; without git they show none.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS git)
include(CPack)
