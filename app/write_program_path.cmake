# Install step: writes the installed program's path into "SettingsModFilename"
# of the system store. Runs inside `cmake --install`, where
# CMAKE_INSTALL_PREFIX is the prefix of this install (--prefix included) and
# DESTDIR, when set, is the staging folder everything goes under.
# mk_config_dir, mk_bindir and mk_datadir come from the build's configuration.

cmake_path(SET prefix NORMALIZE "${CMAKE_INSTALL_PREFIX}")
if(NOT IS_ABSOLUTE "${prefix}")
    # A relative --prefix is taken from the folder cmake --install runs in,
    # as the install rules take it.
    cmake_path(ABSOLUTE_PATH prefix BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}" NORMALIZE)
endif()
string(REGEX REPLACE "(.)/$" "\\1" prefix "${prefix}")

if(IS_ABSOLUTE "${mk_bindir}")
    set(program "${mk_bindir}/Mirelkanzoar")
else()
    set(program "${prefix}/${mk_bindir}/Mirelkanzoar")
endif()
cmake_path(NORMAL_PATH program)

set(config_dir "${mk_config_dir}")
if(mk_config_dir STREQUAL "/etc/xdg" AND NOT prefix MATCHES "^/usr(/local)?$")
    set(config_dir "${prefix}/etc/xdg")
endif()

set(installed_file "${config_dir}/Tarvelin/Mirelkanzoar/2.7/SettingsModFilename")
set(value_file "$ENV{DESTDIR}${installed_file}")
# Stored as the bare path; readers take up to 259 bytes.
string(LENGTH "${program}" length)
if(length GREATER 259)
    message(WARNING "The program's path is longer than 259 bytes; mkquill -D will not find it: ${program}")
endif()
file(WRITE "${value_file}" "${program}")
# The manifest names files as installed, without DESTDIR, as for the others.
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${installed_file}")
message(STATUS "Program path ${program} written to: ${value_file}")
if(NOT config_dir STREQUAL mk_config_dir)
    message(STATUS "For mkquill -D to find the program, ${config_dir} must come first in XDG_CONFIG_DIRS")
endif()

# Tell the desktop about the new file type at once, unless staging (a
# package's own triggers do that on the target system).
if("$ENV{DESTDIR}" STREQUAL "")
    find_program(mk_update_mime update-mime-database)
    if(IS_ABSOLUTE "${mk_datadir}")
        set(mime_dir "${mk_datadir}/mime")
    else()
        set(mime_dir "${prefix}/${mk_datadir}/mime")
    endif()
    if(mk_update_mime AND EXISTS "${mime_dir}/packages/mirelkanzoar.xml")
        execute_process(COMMAND "${mk_update_mime}" "${mime_dir}"
                        RESULT_VARIABLE ignored OUTPUT_QUIET ERROR_QUIET)
    endif()
endif()
