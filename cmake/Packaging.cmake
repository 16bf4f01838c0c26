# The Debian package: `cpack -G DEB` in a build tree (scripts/package.sh does the whole thing).
# Runtime dependencies come from dpkg-shlibdeps over the installed programs, plus what they load
# without linking: Qt's platform plugins for the window, and the Tahoma-compatible font it uses.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mbxvane)
set(CPACK_PACKAGE_VENDOR Mbxvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Eudora mailbox converter to .eml, .emlx, .pst and .msg")
set(CPACK_PACKAGE_DESCRIPTION
    "Mbxvane converts Eudora mailbox files (.mbx, .mbox) into one .eml or .emlx file per
message, one Outlook .msg file per message, or one Outlook data file (.pst) per mailbox.
The package holds the desktop program (mbxvane), the command-line converter
(mbxvane-convert) for batch use, and the File Reader (mbxvane-file-reader), which
finds every occurrence of a text in a file of any size.")
set(CPACK_PACKAGE_CONTACT "Mbxvane developers <mbxvane@localhost>")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wine")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
