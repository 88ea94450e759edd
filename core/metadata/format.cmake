# The date/time formatter and the locale module.
#
# The formatter (numbers, pictures) is part of the core. Everything that
# needs ICU is the module MK_Locale, which the core loads from beside itself
# the first time a picture names a day, month, designator or era, or the
# locale list is asked for. A table of the locale identifiers ICU knows,
# made at build time, lets the core check a locale without loading it.
# Picture tokens and the flat form of the names: in the core and in the
# module alike.
add_library(mk_format_common OBJECT
    ${CMAKE_CURRENT_LIST_DIR}/locale_names.cpp
    ${CMAKE_CURRENT_LIST_DIR}/picture_tokens.cpp)
add_library(mk_locale_objects OBJECT
    ${CMAKE_CURRENT_LIST_DIR}/locale_data.cpp
    ${CMAKE_CURRENT_LIST_DIR}/locale_module.cpp)
set_target_properties(mk_format_common mk_locale_objects PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
target_include_directories(mk_format_common PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(mk_locale_objects PUBLIC
    ${CMAKE_CURRENT_SOURCE_DIR}/include
    ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(mk_locale_objects PUBLIC ICU::uc ICU::i18n)
mk_target_options(mk_format_common)
mk_target_options(mk_locale_objects)

add_library(MK_Locale MODULE)
target_link_libraries(MK_Locale PRIVATE mk_locale_objects mk_format_common)
set_target_properties(MK_Locale PROPERTIES
    PREFIX "lib"
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
if(NOT MK_FUZZ)
    target_link_options(MK_Locale PRIVATE -Wl,--no-undefined)
endif()
mk_target_options(MK_Locale)
install(TARGETS MK_Locale LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The module's code for the tests, which reach its internals; it stands on
# the core's static library (the picture tokens).
add_library(mk_locale_static STATIC)
target_link_libraries(mk_locale_static PUBLIC mk_locale_objects mk_core_static)

add_executable(known_lcids_gen ${CMAKE_CURRENT_LIST_DIR}/known_lcids_gen.cpp)
target_link_libraries(known_lcids_gen PRIVATE mk_locale_objects mk_format_common)
mk_target_options(known_lcids_gen)
set(MK_KNOWN_LCIDS_DIR ${CMAKE_CURRENT_BINARY_DIR}/generated)
add_custom_command(
    OUTPUT ${MK_KNOWN_LCIDS_DIR}/known_lcids.inc
    COMMAND ${CMAKE_COMMAND} -E make_directory ${MK_KNOWN_LCIDS_DIR}
    COMMAND known_lcids_gen ${MK_KNOWN_LCIDS_DIR}/known_lcids.inc
    DEPENDS known_lcids_gen
    COMMENT "Listing the locale identifiers ICU knows"
    VERBATIM)

target_sources(mk_core_objects PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/date_format.cpp
    ${CMAKE_CURRENT_LIST_DIR}/locale_access.cpp
    ${MK_KNOWN_LCIDS_DIR}/known_lcids.inc)
target_include_directories(mk_core_objects PRIVATE ${MK_KNOWN_LCIDS_DIR})
