# The Debian package: `make package`.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tolvane developers")
set(CPACK_PACKAGE_CONTACT "The Tolvane developers <dev@tolvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "password generator that types batches of passwords into other programs")
set(CPACK_PACKAGE_DESCRIPTION
    "Tolvane draws batches of random passwords (length, segments, character classes, optionally\n paired with user names and a keyed code) and types them as keystrokes into a plain-text\n editor or into a program you pick. French user interface.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.tolvane.example/")
# Libraries linked directly are found by dpkg-shlibdeps; the Qt platform plugin and the sound
# library, opened at run time, are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libcanberra0")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, mousepad | gedit | gnome-text-editor | kwrite | xed | pluma | featherpad")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};Unspecified;/")
include(CPack)
