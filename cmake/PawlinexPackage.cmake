# The Debian package (`cpack -G DEB` in the build folder, or scripts/package.sh):
# build/pawlinex_<version>_amd64.deb, holding the installation layout under /usr.
#
# Its dependencies are the shared libraries the executables link (found by dpkg-shlibdeps) plus
# what the program only reaches at run time: a Japanese font for its windows, the freedesktop
# sound theme its default warning sound comes from, xdg-open to show folders and the help
# page, FFmpeg's device library, loaded only when a camera or sound input names a device, and
# SDL_mixer, loaded at the first sound.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pawlinex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Pawlinex)
set(CPACK_PACKAGE_CONTACT "Pawlinex maintainers <maintainers@users.noreply.c-seed-abf55948.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop motion alarm for one camera")
# CPack puts the summary above this as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Pawlinex shows the live picture of one camera, compares every
frame with the one before and judges the change against a threshold. An alarm
loops a warning sound, records a short clip, uploads it by FTP and mails a
picture of the alarm frame. Its windows speak Japanese.")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "fonts-ipafont-gothic | fonts-noto-cjk, sound-theme-freedesktop, xdg-utils, libavdevice${PAWLINEX_AVDEVICE_MAJOR}, libsdl2-mixer-2.0-0")
set(CPACK_STRIP_FILES ON)

# CPack's DEB generator stages through DESTDIR with CMAKE_INSTALL_PREFIX set to this prefix, so the
# desktop entry written at install time names /usr/bin/pawlinex, not the staging folder.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

# Only the binary package; the source tree is shared through git.
set(CPACK_SOURCE_GENERATOR "")

include(CPack)
