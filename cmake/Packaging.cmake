# A Debian package of both programs: scripts/package.sh runs CPack with this.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmarsh)
set(CPACK_PACKAGE_VENDOR "Quillmarsh developers")
if(NOT CPACK_PACKAGE_CONTACT)
    set(CPACK_PACKAGE_CONTACT "Quillmarsh developers <quillmarsh@example.org>")
endif()
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "EI literature search and full-text download manager")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "EI literature search and full-text download manager
 Quillmarsh searches the EI (Engineering Index) database in its own browser
 pane, harvests the hits of the result pages, finds the PDF of each full-text
 link on the publisher's page and downloads the files with its own download
 manager. quillmarsh-cli runs the same core without windows.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# Libraries the programs link come from the binaries themselves ...
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# ... the page engine's helper process is started, not linked ...
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6webenginecore6-bin")
# ... and the interface is Chinese.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, xdg-utils")
include(CPack)
