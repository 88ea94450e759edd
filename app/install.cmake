# Installing the desktop program: the program, its desktop entry, icon and
# settings-file type (so that it shows in the desktop's application menu and
# opens .mks files), its HTML manual, and the program's path written into
# "SettingsModFilename" of the system store, where mkquill -D and the
# file-manager extension look for it. Included from app/CMakeLists.txt.

# The manual lies beside the program in the build (manual/index.html) and
# here in an installed tree; ManualPath() looks in both places.
set(MK_MANUAL_INSTALL_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/mirelkanzoar/manual)
file(GLOB MK_MANUAL_FILES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/manual/*)
set(MK_MANUAL_STAMP ${CMAKE_CURRENT_BINARY_DIR}/manual.stamp)
add_custom_command(
    OUTPUT ${MK_MANUAL_STAMP}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_CURRENT_BINARY_DIR}/manual
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_CURRENT_SOURCE_DIR}/manual
            ${CMAKE_CURRENT_BINARY_DIR}/manual
    COMMAND ${CMAKE_COMMAND} -E touch ${MK_MANUAL_STAMP}
    DEPENDS ${MK_MANUAL_FILES}
    COMMENT "Copying the manual beside the program"
    VERBATIM)
add_custom_target(mk_manual DEPENDS ${MK_MANUAL_STAMP})
add_dependencies(Mirelkanzoar mk_manual)

install(TARGETS Mirelkanzoar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES Mirelkanzoar.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES mirelkanzoar-mime.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages
        RENAME mirelkanzoar.xml)
install(FILES mirelkanzoar.svg DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
install(DIRECTORY manual/ DESTINATION ${MK_MANUAL_INSTALL_DIR})

# The system store. A system-wide install (prefix /usr or /usr/local) writes
# into MK_SYSTEM_CONFIG_DIR, the first folder of XDG_CONFIG_DIRS. Any other
# prefix keeps everything under itself, in <prefix>/etc/xdg, unless
# MK_SYSTEM_CONFIG_DIR was set to another folder than the default.
set(MK_SYSTEM_CONFIG_DIR "/etc/xdg" CACHE PATH
    "System configuration folder (first of XDG_CONFIG_DIRS) for installs to /usr or /usr/local; other prefixes use <prefix>/etc/xdg unless this is changed from /etc/xdg")
# The script runs when installing, so that the prefix given then
# (`cmake --install build --prefix P`) and DESTDIR decide where things go;
# these values are the configuration's.
install(CODE "
    set(mk_config_dir \"${MK_SYSTEM_CONFIG_DIR}\")
    set(mk_bindir \"${CMAKE_INSTALL_BINDIR}\")
    set(mk_datadir \"${CMAKE_INSTALL_DATAROOTDIR}\")
")
install(SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/write_program_path.cmake)
