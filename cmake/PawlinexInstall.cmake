# Installation layout (`cmake --install <build> --prefix <prefix>`):
#
#   <prefix>/lib/pawlinex/            the program folder: pawlinex, pawlinex-ftp, img/, avi/, help/
#   <prefix>/bin/pawlinex             launcher; gives each user a writable program folder
#   <prefix>/share/applications/pawlinex.desktop
#   <prefix>/share/icons/hicolor/scalable/apps/pawlinex.svg
#
# The program folder is always lib/pawlinex, never a multiarch libdir: it holds executables and
# their data side by side, the way the program expects to find them.
include(GNUInstallDirs)

set(PAWLINEX_INSTALL_DIR lib/pawlinex)
set(PAWLINEX_DESKTOP_SRC ${CMAKE_SOURCE_DIR}/resources/desktop)

if(TARGET pawlinex)
    install(TARGETS pawlinex RUNTIME DESTINATION ${PAWLINEX_INSTALL_DIR})
endif()
if(TARGET pawlinex-ftp)
    install(TARGETS pawlinex-ftp RUNTIME DESTINATION ${PAWLINEX_INSTALL_DIR})
endif()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/help/ DESTINATION ${PAWLINEX_INSTALL_DIR}/help)
install(DIRECTORY DESTINATION ${PAWLINEX_INSTALL_DIR}/img)
install(DIRECTORY DESTINATION ${PAWLINEX_INSTALL_DIR}/avi)

# The launcher finds the program folder relative to itself, so the same script works for any
# prefix chosen at install time and for a staged (DESTDIR) install.
file(RELATIVE_PATH PAWLINEX_LAUNCHER_TO_PROGRAM /p/${CMAKE_INSTALL_BINDIR} /p/${PAWLINEX_INSTALL_DIR})
configure_file(${PAWLINEX_DESKTOP_SRC}/pawlinex-launcher.sh ${CMAKE_BINARY_DIR}/install/pawlinex
    @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/install/pawlinex DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${PAWLINEX_DESKTOP_SRC}/pawlinex.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The desktop entry names the launcher by its absolute path, which is only known at install time
# (`--prefix` may differ from the configured prefix). Arguments with reserved characters are
# quoted as the desktop entry format asks.
set(PAWLINEX_BINDIR ${CMAKE_INSTALL_BINDIR})
set(PAWLINEX_DATADIR ${CMAKE_INSTALL_DATADIR})
string(CONFIGURE [[
    set(_bin "${CMAKE_INSTALL_PREFIX}/@PAWLINEX_BINDIR@/pawlinex")
    set(_exec "${_bin}")
    if(_exec MATCHES "[ \t\"'\\\\><~|&;$*?#()`]")
        string(REPLACE "\\" "\\\\" _exec "${_exec}")
        string(REPLACE "\"" "\\\"" _exec "${_exec}")
        string(REPLACE "`" "\\`" _exec "${_exec}")
        string(REPLACE "$" "\\$" _exec "${_exec}")
        set(_exec "\"${_exec}\"")
    endif()
    # The desktop entry format escapes backslashes once more in string values.
    string(REPLACE "\\" "\\\\" _exec "${_exec}")
    set(PAWLINEX_DESKTOP_EXEC "${_exec}")
    string(REPLACE "\\" "\\\\" PAWLINEX_DESKTOP_TRYEXEC "${_bin}")
    configure_file("@PAWLINEX_DESKTOP_SRC@/pawlinex.desktop.in"
        "@CMAKE_BINARY_DIR@/install/pawlinex.desktop" @ONLY)
    file(INSTALL "@CMAKE_BINARY_DIR@/install/pawlinex.desktop"
        DESTINATION "${CMAKE_INSTALL_PREFIX}/@PAWLINEX_DATADIR@/applications")
]] PAWLINEX_DESKTOP_INSTALL_CODE @ONLY)
install(CODE "${PAWLINEX_DESKTOP_INSTALL_CODE}")

# The same layout as a Debian package.
include(${CMAKE_CURRENT_LIST_DIR}/PawlinexPackage.cmake)
