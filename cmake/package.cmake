# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package: what `cmake --install` puts under /usr, stripped, with the
# dependencies read off the binaries. scripts/package runs CPack on the build.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "VRNT_Tarvix maintainers <support@tarvix.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control program of the VRNT_Tarvix serial memory chip programmer")
set(CPACK_PACKAGE_DESCRIPTION
    "The window (tarvix) and command-line tool (tarvix-cli) of the VRNT_Tarvix
USB programmer of serial memory chips: 24-series I2C EEPROM, 25-series SPI
FLASH and EEPROM, 93-series Microwire EEPROM. They recognise the chip in the
socket, load, edit and save images in a hex grid, and erase, write, read,
verify and fill chips, one at a time or in bulk for production runs. A
simulated programmer lets everything run without the hardware.

A udev rule gives the logged-in user access to the programmer.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.tarvix.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Opened at run time (the update check), so shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4")
# The window shows Chinese box titles and the change log's name.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
