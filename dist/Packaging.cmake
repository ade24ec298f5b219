# The Debian package of what `cmake --install` installs (`make deb`). The
# libraries the program and its TLS wrapper link (Qt, OpenSSL through the
# wrapper, yaml-cpp, gumbo, the C++ runtime) are found by dpkg-shlibdeps,
# each once; only what is opened at run time and linked by nothing is named
# here, so that no package appears twice: Qt's own French texts.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veilex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "L'équipe Veilex <veilex@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "surveille des pages web et signale leurs changements")
set(CPACK_PACKAGE_DESCRIPTION
    "Veilex garde une liste de liens nommés. À la demande, il télécharge chaque page, la compare octet par octet avec la copie gardée au dernier changement et indique si elle a changé.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://veilex.example.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
# Links whose page is written by JavaScript are loaded in it; without it only
# those links fail.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "chromium")
# The TLS wrapper is private (found through the program's run path, in a
# directory the loader's cache does not cover), so the package has no
# ldconfig scripts and `dpkg -r` leaves nothing behind.
include(CPack)
