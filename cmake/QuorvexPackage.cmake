# The Debian package, built by CPack from the install rules (scripts/package):
# quorvex_<version>_<arch>.deb, installed under /usr, its library dependencies found by
# dpkg-shlibdeps from the programs themselves.
# Installing and packaging take what is built and build nothing themselves (all targets
# would include every test and benchmark): scripts/package builds first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quorvex developers")
set(CPACK_PACKAGE_CONTACT "${QV_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time transfer-function analyser for sound systems")
# The synopsis above is the description's first line; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Quorvex measures a sound system while it plays. A reference signal and a
measurement microphone are captured together, and the averaged transfer
function between them (magnitude, phase and coherence on a logarithmic
frequency axis) is shown live, with the impulse response and the delay
between the channels. Curves can be kept as traces and compared; a
pink-noise generator and a level meter complete it.
.
This package holds the desktop program quorvex and the command-line
analyser quorvex-analyze. Audio comes through ALSA, JACK or PipeWire.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QV_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quorvex.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Wayland sessions want Qt's Wayland platform (without it Qt falls back to XWayland);
# PipeWire's or JACK's own server for the JACK device.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "pipewire-jack | jackd2, pipewire-alsa")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
