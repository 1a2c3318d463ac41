# A Debian package of both programs: scripts/package.sh runs CPack with this.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmarsh)
set(CPACK_PACKAGE_VENDOR "Quillmarsh developers")
if(NOT CPACK_PACKAGE_CONTACT)
    set(CPACK_PACKAGE_CONTACT "Quillmarsh developers <quillmarsh@example.org>")
endif()
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "EI literature search and full-text download manager")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillmarsh searches the EI (Engineering Index) database in its own browser
pane, harvests the hits of the result pages, finds the PDF of each full-text
link on the publisher's page and downloads the files with its own download
manager. quillmarsh-cli runs the same core without windows.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# Dependencies come from the binaries (the page engine's library brings its
# helper process along in its shlibs).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Plugins are loaded at run time, so shlibdeps cannot see them: the lists are
# kept in SQLite.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
# The interface is Chinese.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, xdg-utils")
include(CPack)
