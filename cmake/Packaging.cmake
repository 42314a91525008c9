# SPDX-License-Identifier: GPL-3.0-or-later
# A Debian package of everything `cmake --install` installs: cpack -G DEB in the build folder
# makes velkorant_<version>_<arch>.deb. Library dependencies come from dpkg-shlibdeps, so they
# are the package names of the distribution that built it (Debian 12 in CI).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velkorant)
set(CPACK_PACKAGE_VENDOR "The Velkorant developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "short end-to-end encrypted text messages between named users")
set(CPACK_PACKAGE_DESCRIPTION
    "Velkorant sends short text messages between named users through a small mailbox server.\n\
A message is encrypted on the sender's computer with a password both users agreed on\n\
beforehand; only the ciphertext reaches the server. This package holds the desktop program\n\
(Spanish user interface), the command-line companion velkorant-cli and the PHP mailbox server\n\
with run-local, which serves it on this computer for trying the program.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Velkorant developers <velkorant@localhost>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The dialogs are measured against DejaVu Sans when Tahoma is absent; the xcb and offscreen
# platform plugins, the SVG renderer and the sound back end arrive with the Qt libraries.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
# run-local serves the mailbox server on this computer with these.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "php-fpm, nginx-light | nginx, openssl, curl")

include(CPack)
