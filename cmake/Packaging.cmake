# The Debian package, made by `cpack -G DEB` in a configured build (scripts/package does it all).
# Its Depends come from dpkg-shlibdeps over the installed binaries, plus what Qt loads at run time
# and no binary links.

set(FENNICK_PACKAGE_MAINTAINER "Fennick developers <fennick@users.noreply.github.com>"
  CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fennick)
set(CPACK_PACKAGE_VENDOR "Fennick developers")
set(CPACK_PACKAGE_CONTACT "${FENNICK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "resample audio files into WAV files with libsoxr")
# Wrapped by hand: dpkg shows the lines as they are.
set(CPACK_PACKAGE_DESCRIPTION [[
Fennick converts an audio file into a WAV file of another sample rate and
sample encoding, with libsoxr doing the resampling: 44.1, 48, 88.2, 96, 176.4
or 192 kHz (any rate on the command line), as 16-bit integer with TPDF dither,
24-bit integer or 32-bit float, with libsoxr's quality, phase, rolloff and
bandwidth settings. Outputs too large for a plain WAV file are written as RF64.

The package holds the desktop application, fennick, and the same engine on the
command line, fennick-convert, with manual pages and bash completion.]])

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's platform plugins (X11, Wayland) and the SVG plugin that draws its icon.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
# On GNOME, Xfce and their kin, Qt's GTK platform theme gives the desktop's own file dialogs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-gtk-platformtheme")

include(CPack)
