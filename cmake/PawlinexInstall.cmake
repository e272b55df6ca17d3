# Installation: a program folder under <prefix>/lib/pawlinex holding the executables and the
# img/, avi/ and help/ folders, with a launcher in <prefix>/bin.
include(GNUInstallDirs)
set(PAWLINEX_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/pawlinex)
if(TARGET pawlinex)
    install(TARGETS pawlinex RUNTIME DESTINATION ${PAWLINEX_INSTALL_DIR})
endif()
if(TARGET pawlinex-ftp)
    install(TARGETS pawlinex-ftp RUNTIME DESTINATION ${PAWLINEX_INSTALL_DIR})
endif()
install(DIRECTORY ${PAWLINEX_PROGRAM_DIR}/help DESTINATION ${PAWLINEX_INSTALL_DIR})
install(DIRECTORY DESTINATION ${PAWLINEX_INSTALL_DIR}/img)
install(DIRECTORY DESTINATION ${PAWLINEX_INSTALL_DIR}/avi)
