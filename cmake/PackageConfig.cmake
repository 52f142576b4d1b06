# How other projects find the installed library:
#   CMake:      find_package(utilDebug CONFIG) -> utilDebug::utilDebug
#   pkg-config: pkg-config --cflags --libs utilDebug
# Both locate the tree relative to their own file, so a moved tree still works.
include(CMakePackageConfigHelpers)

set(UTILDEBUG_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/utilDebug)

install(EXPORT ${UTILDEBUG_EXPORT_NAME} NAMESPACE utilDebug:: DESTINATION ${UTILDEBUG_CMAKE_DIR}
        COMPONENT Development)
configure_package_config_file(cmake/utilDebugConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/utilDebugConfig.cmake INSTALL_DESTINATION ${UTILDEBUG_CMAKE_DIR})
# Any 1.x release can replace the one a caller was built against.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/utilDebugConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/utilDebugConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/utilDebugConfigVersion.cmake
        DESTINATION ${UTILDEBUG_CMAKE_DIR} COMPONENT Development)

set(UTILDEBUG_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH UTILDEBUG_PC_TO_PREFIX "/${UTILDEBUG_PC_DIR}" "/")
string(REGEX REPLACE "/$" "" UTILDEBUG_PC_TO_PREFIX "${UTILDEBUG_PC_TO_PREFIX}")
configure_file(cmake/utilDebug.pc.in ${CMAKE_CURRENT_BINARY_DIR}/utilDebug.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/utilDebug.pc DESTINATION ${UTILDEBUG_PC_DIR} COMPONENT Development)

install(FILES README.md docs/settings.md docs/qpreg.md docs/journal.md docs/qpdebug.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The lnav format of the log files, where lnav looks for the formats of the
# whole machine (/etc/lnav/formats/*/) when the tree is installed under /usr,
# as the package is; under any other prefix in its etc folder. Decided when
# installing: the Debian package installs with the prefix /usr whatever the
# build's prefix was. A copy goes beside the other data, for "lnav -i".
include(GNUInstallDirs)
install(CODE [[
    if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
        set(UTILDEBUG_LNAV_FORMATS "../etc/lnav/formats/quillpost")
    else()
        set(UTILDEBUG_LNAV_FORMATS "etc/lnav/formats/quillpost")
    endif()
]])
install(FILES share/lnav/quillpost_debug_log.json DESTINATION \${UTILDEBUG_LNAV_FORMATS})
install(FILES share/lnav/quillpost_debug_log.json DESTINATION ${CMAKE_INSTALL_DATADIR}/utildebug/lnav)
